#include "base/thread.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "base/exception.hpp"
#include "win32/thread_id.hpp"

namespace {

std::promise<void> gate;
const std::shared_future<void> gate_open = gate.get_future().share();
std::atomic<int> destroyed{0};

// Blocks until the gate opens; counts its destruction.
struct Gated_Thread : base::Thread {
    ~Gated_Thread() override { ++destroyed; }
    int run() override {
        seen_id = static_cast<int>(win32::current_thread_id());
        gate_open.wait();
        return 0;
    }
    std::atomic<int> seen_id = 0;
};

}  // namespace

// Every thread of the limit runs at once (in a 32-bit process too: each
// reserves only its own small stack), and one more is refused. The proxy's
// handlers are detached threads that release themselves after their run.
TEST(Thread, LimitIdsAndDetachedThreads) {
    std::vector<std::unique_ptr<Gated_Thread>> threads;
    struct Opener {  // destroyed before the threads: whatever ends the test, they are let go
        ~Opener() {
            if (gate_open.wait_for(std::chrono::seconds(0)) != std::future_status::ready) gate.set_value();
        }
    } opener;
    while (base::Thread::live_count() < base::Thread::max_threads)
        threads.emplace_back(std::make_unique<Gated_Thread>())->start();
    Gated_Thread extra;
    EXPECT_THROW(extra.start(), base::Exception);
    EXPECT_EQ(extra.id(), 0);
    gate.set_value();
    for (auto& t : threads) t->wait();
    EXPECT_NE(threads[0]->id(), static_cast<int>(win32::current_thread_id()));
    EXPECT_EQ(threads[0]->id(), threads[0]->seen_id);
    const int before = destroyed;
    for (int i = 0; i < 20; ++i) std::make_unique<Gated_Thread>().release()->start_detached();
    for (int i = 0; i < 2000 && (destroyed < before + 20 || base::Thread::live_count() > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(destroyed, before + 20);
    EXPECT_EQ(base::Thread::live_count(), 0);
}
