// GoogleTest's main with a watchdog: a test that runs past its limit ends the
// whole run at once, naming the test, instead of leaving ctest to wait out its
// own timeout. The limit is BRINDLEMOOR_TEST_SECONDS (default 60) per test.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class Watchdog : public testing::EmptyTestEventListener {
public:
    explicit Watchdog(long seconds) : limit_(seconds) {
        thread_ = std::thread([this] { watch(); });
    }
    ~Watchdog() override {
        set(Clock::time_point::min(), "");  // min: quit
        thread_.join();
    }
    void OnTestStart(const testing::TestInfo& test) override {
        set(Clock::now() + limit_, std::string(test.test_suite_name()) + "." + test.name());
    }
    void OnTestEnd(const testing::TestInfo&) override { set(Clock::time_point::max(), ""); }

private:
    void set(Clock::time_point deadline, std::string name) {
        std::lock_guard lock(mutex_);
        deadline_ = deadline;
        name_ = std::move(name);
        changed_.notify_all();
    }
    void watch() {
        std::unique_lock lock(mutex_);
        while (deadline_ != Clock::time_point::min()) {
            if (deadline_ == Clock::time_point::max() || Clock::now() < deadline_) {
                changed_.wait_until(lock, std::min(deadline_, Clock::now() + std::chrono::seconds(1)));
                continue;
            }
            std::fprintf(stderr, "\n%s is still running after %lld s: stopped by the watchdog\n", name_.c_str(),
                         static_cast<long long>(limit_.count()));
            std::fflush(stderr);
            std::_Exit(1);
        }
    }

    std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string name_;
    Clock::time_point deadline_ = Clock::time_point::max();
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* text = std::getenv("BRINDLEMOOR_TEST_SECONDS");
    const long seconds = text ? std::strtol(text, nullptr, 10) : 60;
    // Owned by GoogleTest once appended.
    testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(seconds > 0 ? seconds : 60));
    return RUN_ALL_TESTS();
}
