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

// A handler thread: waits once at its own place, answers the number it was given (-1 for none).
std::future<int> wait_once(Handler_Pool& pool) {
    return std::async(std::launch::async, [&pool] {
        const auto place = std::make_shared<Handler_Pool::Place>();
        Handover work;
        return pool.next(work, place) ? number_of(work) : -1;
    });
}

int result_of(std::future<int>& result) {
    if (result.wait_for(5s) != std::future_status::ready) return -2;
    return result.get();
}

}  // namespace

TEST(Handler_Pool, HandsOverToTheLastWaiterOnly) {
    Handler_Pool pool(10s);
    Handover first = work_number(1);
    EXPECT_FALSE(pool.hand_over(first));  // nobody waits: the listener starts a thread
    EXPECT_EQ(number_of(first), 1);       // and still has the connection

    auto older = wait_once(pool);
    wait_until_waiting(pool, 1);
    auto newer = wait_once(pool);
    wait_until_waiting(pool, 2);

    Handover second = work_number(2), third = work_number(3);
    ASSERT_TRUE(pool.hand_over(second));
    EXPECT_EQ(result_of(newer), 2);
    EXPECT_EQ(pool.waiting(), 1u);
    ASSERT_TRUE(pool.hand_over(third));
    EXPECT_EQ(result_of(older), 3);
    EXPECT_EQ(pool.waiting(), 0u);
}

TEST(Handler_Pool, WaitsEndByTimeLimitFullPoolOrClose) {
    {
        Handler_Pool pool(20ms);
        auto handler = wait_once(pool);
        EXPECT_EQ(result_of(handler), -1);
        EXPECT_EQ(pool.waiting(), 0u);
        Handover late = work_number(1);
        EXPECT_FALSE(pool.hand_over(late));
    }
    {
        Handler_Pool pool(10s);
        std::vector<std::future<int>> handlers;
        for (std::size_t i = 0; i < Handler_Pool::max_waiting; ++i) handlers.push_back(wait_once(pool));
        wait_until_waiting(pool, Handler_Pool::max_waiting);
        auto one_too_many = wait_once(pool);
        EXPECT_EQ(result_of(one_too_many), -1);  // at once, not after its time

        // Closing ends every wait now, and refuses hand-overs and waits after it.
        pool.close();
        for (auto& handler : handlers) EXPECT_EQ(result_of(handler), -1);
        EXPECT_EQ(pool.waiting(), 0u);
        Handover after = work_number(1);
        EXPECT_FALSE(pool.hand_over(after));
        EXPECT_EQ(number_of(after), 1);
        auto late = wait_once(pool);
        EXPECT_EQ(result_of(late), -1);
    }
}

// Handlers that each keep one place across many waits, against a listener
// handing over as fast as it can: every connection reaches exactly one handler.
TEST(Handler_Pool, EveryHandOverReachesExactlyOneHandler) {
    constexpr int handlers = 8, connections = 2000;
    Handler_Pool pool(10s);
    std::vector<std::atomic<int>> received(connections);
    std::vector<std::thread> threads;
    for (int t = 0; t < handlers; ++t)
        threads.emplace_back([&] {
            const auto place = std::make_shared<Handler_Pool::Place>();
            Handover work;
            while (pool.next(work, place)) {
                ++received[static_cast<std::size_t>(number_of(work))];
                work = {};
            }
        });
    for (int n = 0; n < connections; ++n) {
        Handover work = work_number(n);
        // Bounded: all handlers busy means a short wait for one to come back.
        for (int tries = 0; tries < 1'000'000 && !pool.hand_over(work); ++tries) std::this_thread::yield();
        if (work.options) {
            ADD_FAILURE() << "connection " << n << " found no handler";
            break;
        }
    }
    // The last ones may still be on their way: wait until every handler waits again.
    wait_until_waiting(pool, handlers);
    pool.close();
    for (auto& thread : threads) thread.join();
    for (int n = 0; n < connections; ++n) EXPECT_EQ(received[static_cast<std::size_t>(n)].load(), 1) << n;
}
