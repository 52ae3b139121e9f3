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

class Watchdog : public testing::EmptyTestEventListener {
public:
    explicit Watchdog(std::chrono::seconds limit) : limit_(limit) {
        thread_ = std::thread([this] { watch(); });
    }
    ~Watchdog() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    void OnTestStart(const testing::TestInfo& test) override {
        std::lock_guard lock(mutex_);
        name_ = std::string(test.test_suite_name()) + "." + test.name();
        deadline_ = std::chrono::steady_clock::now() + limit_;
        running_ = true;
        changed_.notify_all();
    }
    void OnTestEnd(const testing::TestInfo&) override {
        std::lock_guard lock(mutex_);
        running_ = false;
        changed_.notify_all();
    }

private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!running_) {
                changed_.wait(lock);
                continue;
            }
            const auto deadline = deadline_;
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && running_ && deadline == deadline_) {
                std::fprintf(stderr, "\n%s is still running after %lld s: stopped by the watchdog\n", name_.c_str(),
                             static_cast<long long>(limit_.count()));
                std::fflush(stderr);
                std::_Exit(1);
            }
        }
    }

    std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string name_;
    std::chrono::steady_clock::time_point deadline_;
    bool running_ = false;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    long seconds = 60;
    if (const char* text = std::getenv("BRINDLEMOOR_TEST_SECONDS")) seconds = std::strtol(text, nullptr, 10);
    // Owned by GoogleTest once appended.
    testing::UnitTest::GetInstance()->listeners().Append(
        new Watchdog(std::chrono::seconds(seconds > 0 ? seconds : 60)));
    return RUN_ALL_TESTS();
}
