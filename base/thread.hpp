#pragma once
// Operating-system thread running an object's `run`. At most `max_threads`
// live at once; a `start` beyond that throws and starts nothing.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace base {

class Thread {
public:
    static constexpr int max_threads = 1024;
    // The stack each thread reserves. A handler's deepest use (a large page
    // through the rules, a name lookup, formatted log lines) stays below a
    // tenth of it; the reservation is what lets max_threads threads fit in
    // the address space of a 32-bit process.
    static constexpr std::size_t stack_reserve = 256 * 1024;

    Thread() = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    virtual ~Thread();

    // Starts a thread that the caller waits for with `wait`.
    void start();
    // Starts a thread that owns this object (allocated with new) and deletes it
    // once `run` returns: nobody waits for it. If this throws, the caller still owns it.
    void start_detached();
    // Blocks until `run` has returned.
    void wait();

    // The operating system's numeric thread id; 0 until the thread runs.
    int id() const noexcept { return id_.load(std::memory_order_acquire); }

    // Threads currently registered (started and not yet finished).
    static int live_count() noexcept;

protected:
    virtual int run() = 0;

private:
    void launch(bool detached);
    static void body(void* self);

    std::uintptr_t handle_ = 0;  // the thread to wait for; 0 when none
    bool detached_ = false;
    std::atomic<int> id_{0};
    int result_ = 0;
};

}  // namespace base
