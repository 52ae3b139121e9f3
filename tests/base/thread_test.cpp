#include "base/thread.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "win32/thread_id.hpp"

namespace {

std::atomic<int> destroyed{0};

struct Id_Thread : base::Thread {
    ~Id_Thread() override { ++destroyed; }
    int run() override { return seen_id = static_cast<int>(win32::current_thread_id()), 0; }
    std::atomic<int> seen_id = 0;
};

}  // namespace

// A thread's id is its own (log lines name the proxy's handlers by it), 0
// until it runs. The handlers are detached threads that release themselves
// after their run. (The thread limit: proxy_test.cpp, past the limit.)
TEST(Thread, IdsAndDetachedThreads) {
    Id_Thread waited;
    EXPECT_EQ(waited.id(), 0);
    waited.start();
    waited.wait();
    EXPECT_NE(waited.id(), static_cast<int>(win32::current_thread_id()));
    EXPECT_EQ(waited.id(), waited.seen_id);
    const int before = destroyed;
    for (int i = 0; i < 20; ++i) std::make_unique<Id_Thread>().release()->start_detached();
    for (int i = 0; i < 2000 && (destroyed < before + 20 || base::Thread::live_count() > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(destroyed, before + 20);
    EXPECT_EQ(base::Thread::live_count(), 0);
}
