#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/exception.hpp"
#include "base/thread.hpp"
#include "win32/thread_id.hpp"

using base::Thread;

namespace {

// Threads that block until the test opens the gate; the last one counts its destruction.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> destroyed{0};
    void release() {
        std::lock_guard lock(m);
        open = true;
        cv.notify_all();
    }
};

struct Gated_Thread : Thread {
    explicit Gated_Thread(Gate& gate) : gate(gate) {}
    ~Gated_Thread() override { ++gate.destroyed; }
    int run() override {
        seen_id = static_cast<int>(win32::current_thread_id());
        std::unique_lock lock(gate.m);
        gate.cv.wait(lock, [&] { return gate.open; });
        return 0;
    }
    Gate& gate;
    int seen_id = 0;
};

}  // namespace

// Every thread of the limit runs at once (in a 32-bit process too: each
// reserves only its own small stack), and one more is refused.
TEST(Thread, LimitIdsAndDetachedThreads) {
    Gate gate;
    std::vector<std::unique_ptr<Gated_Thread>> threads;
    struct Opener {  // destroyed before the threads: whatever ends the test, they are let go
        Gate& gate;
        ~Opener() { gate.release(); }
    } opener{gate};
    while (Thread::live_count() < Thread::max_threads) {
        threads.push_back(std::make_unique<Gated_Thread>(gate));
        threads.back()->start();
    }
    Gated_Thread extra(gate);
    try {
        extra.start();
        ADD_FAILURE() << "a thread beyond the limit started";
    } catch (const base::Exception& e) {
        EXPECT_NE(e.message().find("too many threads"), std::string::npos) << e.message();
    }
    EXPECT_EQ(extra.id(), 0);
    gate.release();
    for (auto& t : threads) t->wait();
    EXPECT_NE(threads[0]->id(), static_cast<int>(win32::current_thread_id()));
    EXPECT_EQ(threads[0]->id(), threads[0]->seen_id);
    EXPECT_EQ(Thread::live_count(), 0);
    // A detached thread releases itself after its run.
    const int before = gate.destroyed;
    for (int i = 0; i < 20; ++i) std::make_unique<Gated_Thread>(gate).release()->start_detached();
    for (int i = 0; i < 2000 && (gate.destroyed < before + 20 || Thread::live_count() > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(gate.destroyed, before + 20);
    EXPECT_EQ(Thread::live_count(), 0);
}
