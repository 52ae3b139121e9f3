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

// The running test's deadline (0: none) and name, read by a detached thread
// that never touches anything the program destroys at exit.
std::atomic<long long> deadline_ms{0};
char running[512];

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

struct Watchdog : testing::EmptyTestEventListener {
    explicit Watchdog(long seconds) : seconds(seconds) {}
    void OnTestStart(const testing::TestInfo& test) override {
        std::snprintf(running, sizeof running, "%s.%s", test.test_suite_name(), test.name());
        deadline_ms.store(now_ms() + seconds * 1000);
    }
    void OnTestEnd(const testing::TestInfo&) override { deadline_ms.store(0); }
    long seconds;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* text = std::getenv("BRINDLEMOOR_TEST_SECONDS");
    const long seconds = text && std::strtol(text, nullptr, 10) > 0 ? std::strtol(text, nullptr, 10) : 60;
    testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(seconds));  // owned by GoogleTest
    std::thread([seconds] {
        for (;; std::this_thread::sleep_for(std::chrono::milliseconds(200))) {
            const long long deadline = deadline_ms.load();
            if (deadline == 0 || now_ms() < deadline) continue;
            std::fprintf(stderr, "\n%s is still running after %ld s: stopped by the watchdog\n", running, seconds);
            std::fflush(stderr);
            std::_Exit(1);
        }
    }).detach();
    return RUN_ALL_TESTS();
}
