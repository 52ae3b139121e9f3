// Handlers waiting for their next connection: who gets a connection, and that
// every wait ends (time out, bound, close) instead of holding a thread forever.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "proxy/handler_pool.hpp"

using proxy::Handler_Pool;
using proxy::Handover;
using proxy::Proxy_Options;

using namespace std::chrono_literals;

namespace {

Handover work_with(std::shared_ptr<const Proxy_Options> options) { return Handover{nullptr, std::move(options)}; }

void wait_for_waiters(const Handler_Pool& pool, std::size_t n) {
    for (int i = 0; i < 1000 && pool.waiting() < n; ++i) std::this_thread::sleep_for(2ms);
    ASSERT_EQ(pool.waiting(), n);
}

}  // namespace

TEST(Handler_Pool, NobodyWaitingLeavesTheWorkWithTheCaller) {
    Handler_Pool pool;
    auto options = std::make_shared<const Proxy_Options>();
    Handover work = work_with(options);
    EXPECT_FALSE(pool.hand_over(work));
    EXPECT_EQ(work.options, options);
}

TEST(Handler_Pool, LastWaiterGetsTheWorkAndEveryWaitEnds) {
    Handler_Pool pool(10s);
    std::vector<std::shared_ptr<const Proxy_Options>> got(2);
    std::vector<bool> served(2);
    std::vector<std::thread> handlers;
    for (int i = 0; i < 2; ++i) {
        handlers.emplace_back([&, i] {
            Handover next;
            served[i] = pool.next(next);
            got[i] = next.options;
        });
        wait_for_waiters(pool, i + 1);
    }
    auto options = std::make_shared<const Proxy_Options>();
    Handover work = work_with(options);
    ASSERT_TRUE(pool.hand_over(work));
    handlers[1].join();
    EXPECT_TRUE(served[1]);
    EXPECT_EQ(got[1], options);
    pool.close();  // the other waiter ends now, and nobody waits from here on
    handlers[0].join();
    EXPECT_FALSE(served[0]);
    Handover later;
    EXPECT_FALSE(pool.next(later));
    Handover more = work_with(options);
    EXPECT_FALSE(pool.hand_over(more));
}

TEST(Handler_Pool, WaitsTimeOutAndAreBounded) {
    Handler_Pool pool(50ms);
    Handover next;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pool.next(next));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);

    Handler_Pool full(10s);
    std::vector<std::thread> waiters;
    for (std::size_t i = 0; i < Handler_Pool::max_waiting; ++i)
        waiters.emplace_back([&] {
            Handover h;
            full.next(h);
        });
    wait_for_waiters(full, Handler_Pool::max_waiting);
    // One more than the bound ends at once instead of waiting its 10 s.
    const auto t = std::chrono::steady_clock::now();
    Handover h;
    EXPECT_FALSE(full.next(h));
    EXPECT_LT(std::chrono::steady_clock::now() - t, 5s);
    full.close();
    for (auto& w : waiters) w.join();
}
