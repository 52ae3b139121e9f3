// GoogleTest's main with a watchdog: a test that runs past its limit ends the
// whole run at once, naming the test, instead of leaving ctest to wait out its
// own timeout. The limit is BRINDLEMOOR_TEST_SECONDS (default 60) per test.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The limit, the running test's deadline (in clock ticks, 0: none) and its
// name, read by a detached thread that never touches anything the program
// destroys at exit.
long seconds = 60;
std::atomic<Clock::rep> deadline{0};
char running[512];

struct Watchdog : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& test) override {
        std::snprintf(running, sizeof running, "%s.%s", test.test_suite_name(), test.name());
        deadline.store((Clock::now() + std::chrono::seconds(seconds)).time_since_epoch().count());
    }
    void OnTestEnd(const testing::TestInfo&) override { deadline.store(0); }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* text = std::getenv("BRINDLEMOOR_TEST_SECONDS");
    if (text && std::strtol(text, nullptr, 10) > 0) seconds = std::strtol(text, nullptr, 10);
    testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);  // owned by GoogleTest
    std::thread([] {
        for (;; std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
            if (const auto at = deadline.load(); at == 0 || Clock::now().time_since_epoch().count() < at) continue;
            std::fprintf(stderr, "\n%s is still running after %ld s: stopped by the watchdog\n", running, seconds);
            std::_Exit(1);
        }
    }).detach();
    return RUN_ALL_TESTS();
}
