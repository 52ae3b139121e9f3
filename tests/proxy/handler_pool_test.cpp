// Handlers waiting for their next connection: who gets a connection, and that
// every wait ends (time out, bound, close) instead of holding a thread forever.

#include "proxy/handler_pool.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace std::chrono_literals;
using proxy::Handover;

TEST(Handler_Pool, LastWaiterGetsTheWorkAndEveryWaitEnds) {
    proxy::Handler_Pool timing_out(50ms), pool(10s);
    Handover work{nullptr, std::make_shared<const proxy::Proxy_Options>()};
    const auto options = work.options;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(timing_out.next(work));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_FALSE(pool.hand_over(work));  // nobody waits: the work stays with the caller
    EXPECT_EQ(work.options, options);
    // One more waiter than the bound ends at once instead of waiting its 10 s.
    const std::size_t n = proxy::Handler_Pool::max_waiting + 1;
    std::vector<Handover> got(n);
    std::vector<char> served(n);
    std::vector<std::thread> waiters;
    for (std::size_t i = 0; i < n; ++i) {
        waiters.emplace_back([&, i] { served[i] = pool.next(got[i]); });
        for (int t = 0; t < 1000 && pool.waiting() < std::min(i + 1, n - 1); ++t) std::this_thread::sleep_for(2ms);
    }
    waiters.back().join();
    EXPECT_FALSE(served.back());
    EXPECT_EQ(pool.waiting(), n - 1);
    ASSERT_TRUE(pool.hand_over(work));
    waiters[n - 2].join();
    EXPECT_TRUE(served[n - 2]);
    EXPECT_EQ(got[n - 2].options, options);
    pool.close();  // the other waiters end now, and nobody waits from here on
    for (std::size_t i = 0; i < n - 2; ++i) {
        waiters[i].join();
        EXPECT_FALSE(served[i]);
    }
    EXPECT_FALSE(pool.next(work));
    EXPECT_FALSE(pool.hand_over(got[n - 2]));
}
