#include "proxy/handler_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using proxy::Handler_Pool;
using proxy::Handover;
using proxy::Proxy_Options;
using namespace std::chrono_literals;

namespace {

// Each hand-over carries its own options object, so a receiver can tell which one it got.
Handover work_number(int n) {
    auto options = std::make_shared<Proxy_Options>();
    options->html_limit = static_cast<std::size_t>(n);
    return Handover{nullptr, options};
}

int number_of(const Handover& work) { return work.options ? static_cast<int>(work.options->html_limit) : -1; }

// Bounded: a pool that never lets go fails the test instead of hanging it.
void wait_until_waiting(const Handler_Pool& pool, std::size_t count) {
    for (int i = 0; i < 5000 && pool.waiting() < count; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(pool.waiting(), count);
}

// A handler thread that waits once at its own place and answers the number it
// was given (-1 for none). The thread is not joined and shares the pool, so a
// pool that never lets it go fails the test within seconds instead of hanging it.
class Waiter {
public:
    explicit Waiter(const std::shared_ptr<Handler_Pool>& pool) : deadline_(std::chrono::steady_clock::now() + 5s) {
        std::promise<int> answer;
        result_ = answer.get_future();
        std::thread([pool, answer = std::move(answer)]() mutable {
            const auto place = std::make_shared<Handler_Pool::Place>();
            Handover work;
            answer.set_value(pool->next(work, place) ? number_of(work) : -1);
        }).detach();
    }

    // The answer, or -2 if none came within 5 s of the start (waiters started
    // together share the deadline).
    int result() {
        if (result_.wait_until(deadline_) != std::future_status::ready) return -2;
        return result_.get();
    }

private:
    std::chrono::steady_clock::time_point deadline_;
    std::future<int> result_;
};

}  // namespace

TEST(Handler_Pool, HandsOverToTheLastWaiterOnly) {
    const auto shared = std::make_shared<Handler_Pool>(10s);
    Handler_Pool& pool = *shared;
    Handover first = work_number(1);
    EXPECT_FALSE(pool.hand_over(first));  // nobody waits: the listener starts a thread
    EXPECT_EQ(number_of(first), 1);       // and still has the connection

    Waiter older(shared);
    wait_until_waiting(pool, 1);
    Waiter newer(shared);
    wait_until_waiting(pool, 2);

    Handover second = work_number(2), third = work_number(3);
    ASSERT_TRUE(pool.hand_over(second));
    EXPECT_EQ(newer.result(), 2);
    EXPECT_EQ(pool.waiting(), 1u);
    ASSERT_TRUE(pool.hand_over(third));
    EXPECT_EQ(older.result(), 3);
    EXPECT_EQ(pool.waiting(), 0u);
}

TEST(Handler_Pool, WaitsEndByTimeLimitFullPoolOrClose) {
    {
        const auto shared = std::make_shared<Handler_Pool>(20ms);
        Handler_Pool& pool = *shared;
        Waiter handler(shared);
        EXPECT_EQ(handler.result(), -1);
        EXPECT_EQ(pool.waiting(), 0u);
        Handover late = work_number(1);
        EXPECT_FALSE(pool.hand_over(late));
    }
    {
        const auto shared = std::make_shared<Handler_Pool>(10s);
        Handler_Pool& pool = *shared;
        std::vector<Waiter> handlers;
        for (std::size_t i = 0; i < Handler_Pool::max_waiting; ++i) handlers.emplace_back(shared);
        wait_until_waiting(pool, Handler_Pool::max_waiting);
        Waiter one_too_many(shared);
        EXPECT_EQ(one_too_many.result(), -1);  // at once, not after its time

        // Closing ends every wait now, and refuses hand-overs and waits after it.
        pool.close();
        for (auto& handler : handlers) EXPECT_EQ(handler.result(), -1);
        EXPECT_EQ(pool.waiting(), 0u);
        Handover after = work_number(1);
        EXPECT_FALSE(pool.hand_over(after));
        EXPECT_EQ(number_of(after), 1);
        Waiter late(shared);
        EXPECT_EQ(late.result(), -1);
    }
}

// Handlers that each keep one place across many waits, against a listener
// handing over as fast as it can: every connection reaches exactly one handler.
TEST(Handler_Pool, EveryHandOverReachesExactlyOneHandler) {
    constexpr int handlers = 8, connections = 2000;
    // Shared with the handler threads, which are not joined: a pool that never
    // lets them go then fails the test within seconds instead of hanging it.
    struct Shared {
        Handler_Pool pool{10s};
        std::vector<std::atomic<int>> received = std::vector<std::atomic<int>>(connections);
        std::atomic<int> ended{0};
    };
    const auto shared = std::make_shared<Shared>();
    Handler_Pool& pool = shared->pool;
    for (int t = 0; t < handlers; ++t)
        std::thread([shared] {
            const auto place = std::make_shared<Handler_Pool::Place>();
            Handover work;
            while (shared->pool.next(work, place)) {
                ++shared->received[static_cast<std::size_t>(number_of(work))];
                work = {};
            }
            ++shared->ended;
        }).detach();
    for (int n = 0; n < connections; ++n) {
        Handover work = work_number(n);
        // Bounded: all handlers busy means a short wait for one to come back.
        // A refused hand-over leaves the connection with the listener; one that
        // took it anyway must not be retried with nothing.
        for (int tries = 0; tries < 1'000'000 && work.options && !pool.hand_over(work); ++tries)
            std::this_thread::yield();
        if (work.options) {
            ADD_FAILURE() << "connection " << n << " found no handler";
            break;
        }
    }
    // The last ones may still be on their way: wait until every handler waits again.
    wait_until_waiting(pool, handlers);
    if (HasFatalFailure()) return;
    pool.close();
    for (int i = 0; i < 5000 && shared->ended < handlers; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(shared->ended.load(), handlers) << "handlers still waiting 5 s after the pool closed";
    for (int n = 0; n < connections; ++n) EXPECT_EQ(shared->received[static_cast<std::size_t>(n)].load(), 1) << n;
}
