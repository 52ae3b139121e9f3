#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/exception.hpp"
#include "base/thread.hpp"
#include "win32/thread_id.hpp"

using base::Exception;
using base::Thread;

namespace {

// A thread that blocks until the test opens its gate.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    void wait() {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return open; });
    }
    void release() {
        {
            std::lock_guard lock(m);
            open = true;
        }
        cv.notify_all();
    }
};

struct Blocking_Thread : Thread {
    explicit Blocking_Thread(Gate& gate) : gate(gate) {}
    int run() override {
        seen_id = static_cast<int>(win32::current_thread_id());
        gate.wait();
        return 0;
    }
    Gate& gate;
    int seen_id = 0;
};

struct Counted_Thread : Thread {
    explicit Counted_Thread(std::atomic<int>& destroyed) : destroyed(destroyed) {}
    ~Counted_Thread() override { ++destroyed; }
    int run() override { return 7; }
    std::atomic<int>& destroyed;
};

void wait_until(const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

TEST(Thread, WaitReturnsAfterRunAndIdIsTheOsThreadId) {
    Gate gate;
    Blocking_Thread t(gate);
    t.start();
    wait_until([&] { return t.id() != 0; });
    EXPECT_NE(t.id(), static_cast<int>(win32::current_thread_id()));
    gate.release();
    t.wait();
    EXPECT_EQ(t.id(), t.seen_id);
}

TEST(Thread, DetachedThreadReleasesItselfAfterRun) {
    std::atomic<int> destroyed{0};
    const int before = Thread::live_count();
    for (int i = 0; i < 20; ++i) {
        auto t = std::make_unique<Counted_Thread>(destroyed);
        t->start_detached();
        t.release();
    }
    wait_until([&] { return destroyed == 20; });
    EXPECT_EQ(destroyed, 20);
    wait_until([&] { return Thread::live_count() == before; });
    EXPECT_EQ(Thread::live_count(), before);
}

// Every thread of the limit runs at once (in a 32-bit process too: each
// reserves only its own small stack), and one more is refused.
TEST(Thread, StartBeyondTheLimitThrowsAndStartsNothing) {
    Gate gate;
    std::vector<std::unique_ptr<Blocking_Thread>> threads;
    // Declared after the threads, so destroyed first: whatever ends the test,
    // the parked threads are let go before anything waits for them.
    struct Opener {
        Gate& gate;
        ~Opener() { gate.release(); }
    } opener{gate};
    const int room = Thread::max_threads - Thread::live_count();
    for (int i = 0; i < room; ++i) {
        threads.push_back(std::make_unique<Blocking_Thread>(gate));
        try {
            threads.back()->start();
        } catch (const Exception& e) {
            // Reported once the others are gone: the report itself may need a thread.
            gate.release();
            for (auto& t : threads) t->wait();
            FAIL() << "thread " << i + 1 << " of " << room << " did not start: " << e.message();
        }
    }
    Blocking_Thread extra(gate);
    try {
        extra.start();
        FAIL() << "a thread beyond the limit started";
    } catch (const Exception& e) {
        EXPECT_NE(e.message().find("too many threads"), std::string::npos) << e.message();
    }
    EXPECT_EQ(Thread::live_count(), Thread::max_threads);
    gate.release();
    for (auto& t : threads) t->wait();
    EXPECT_EQ(extra.id(), 0);
    EXPECT_EQ(Thread::live_count(), 0);
}
