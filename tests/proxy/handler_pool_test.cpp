// Handlers waiting for their next connection: who gets a connection, and that
// every wait ends (time out, bound, close) instead of holding a thread forever.

#include "proxy/handler_pool.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using proxy::Handler_Pool;
using proxy::Handover;
using namespace std::chrono_literals;

namespace {

// Starts `n` waiters on `pool`; each stores whether it was served and with what.
std::vector<std::thread> start_waiters(Handler_Pool& pool, std::size_t n, std::vector<Handover>& got,
                                       std::vector<char>& served) {
    got.resize(n);
    served.resize(n);
    std::vector<std::thread> waiters;
    for (std::size_t i = 0; i < n; ++i) {
        waiters.emplace_back([&, i] { served[i] = pool.next(got[i]); });
        for (int t = 0; t < 1000 && pool.waiting() < i + 1; ++t) std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(pool.waiting(), n);
    return waiters;
}

}  // namespace

TEST(Handler_Pool, LastWaiterGetsTheWorkAndEveryWaitEnds) {
    Handler_Pool pool(10s);
    auto options = std::make_shared<const proxy::Proxy_Options>();
    Handover work{nullptr, options};
    EXPECT_FALSE(pool.hand_over(work));  // nobody waits: the work stays with the caller
    EXPECT_EQ(work.options, options);
    std::vector<Handover> got;
    std::vector<char> served;
    auto waiters = start_waiters(pool, 2, got, served);
    ASSERT_TRUE(pool.hand_over(work));
    waiters[1].join();
    EXPECT_TRUE(served[1]);
    EXPECT_EQ(got[1].options, options);
    pool.close();  // the other waiter ends now, and nobody waits from here on
    waiters[0].join();
    EXPECT_FALSE(served[0]);
    EXPECT_FALSE(pool.next(got[0]));
    EXPECT_FALSE(pool.hand_over(work));
}

TEST(Handler_Pool, WaitsTimeOutAndAreBounded) {
    Handler_Pool pool(50ms);
    Handover next;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pool.next(next));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);

    Handler_Pool full(10s);
    std::vector<Handover> got;
    std::vector<char> served;
    auto waiters = start_waiters(full, Handler_Pool::max_waiting, got, served);
    // One more than the bound ends at once instead of waiting its 10 s.
    const auto t = std::chrono::steady_clock::now();
    EXPECT_FALSE(full.next(next));
    EXPECT_LT(std::chrono::steady_clock::now() - t, 5s);
    full.close();
    for (auto& w : waiters) w.join();
}
