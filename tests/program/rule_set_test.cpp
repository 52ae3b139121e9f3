// The rule list: filtering on several threads at once, and reloads, which
// never wait for pages being filtered. (Rules on pages, bad patterns and the step budget: in
// program_e2e.py, through the program and its rule tester.)
#include "zib/rule_set.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "base/streams.hpp"
#include "capture_stream.hpp"

using zib::apply_rules;

namespace {

using namespace std::chrono_literals;

// A settings text of rules {uri, search, replace}.
std::string settings(std::initializer_list<std::array<const char*, 3>> rules) {
    std::string text = "--- !zib\nfilter:\n";
    for (const auto& [uri, search, replace] : rules)
        text += std::string("  - uri: ") + uri + "\n    search: " + search + "\n    replace: " + replace + "\n";
    return text;
}

class Rule_Set : public ::testing::Test {
protected:
    void SetUp() override { base::window_log = base::error_log = &log; }
    void TearDown() override { base::window_log = base::error_log = nullptr; }
    test::Capture_Stream log;
};

// Eight threads filter at once with the same compiled rules while the list is
// reloaded: every page comes out as one of the two lists makes it alone.
// Settings without a "filter" list keep the rules (the other corners of the
// schema: the YAML reader's tests).
TEST_F(Rule_Set, ParallelFilteringDuringReloads) {
    const std::string first = settings({{".*", "(?1:[a-z]+)\\=(?2:\\d+)", "$2=$1"}, {".*", "\\<b\\>", "<strong>"}});
    const std::string second = settings({{".*", "\\<b\\>(?1:.*?)\\</b\\>", "[$1]"}});
    std::string page;
    for (int i = 0; i < 400; ++i) page += "<b>id=" + std::to_string(i) + "</b>\r\n";
    std::set<std::string> alone;
    for (const auto& text : {first, second}) zib::load_settings_text(text), alone.insert(apply_rules("a", page));
    zib::load_settings_text("--- !zib\nsomething: else\n");
    ASSERT_EQ(alone.size(), 2u);
    ASSERT_EQ(alone.count(apply_rules("a", page)), 1u) << "the rules went";
    std::atomic<bool> done{false};
    std::atomic<int> pages{0};
    std::vector<std::future<std::set<std::string>>> filters;
    for (int t = 0; t < 8; ++t)
        filters.push_back(std::async(std::launch::async, [&] {
            std::set<std::string> outputs;
            for (; !done; ++pages) outputs.insert(apply_rules("a", page));
            return outputs;
        }));
    for (int i = 0; i < 40 || (pages < 40 && i < 4000); ++i)
        zib::load_settings_text(i % 2 ? first : second), std::this_thread::sleep_for(5ms);
    done = true;
    for (auto& f : filters)
        for (const auto& output : f.get()) EXPECT_EQ(alone.count(output), 1u);
}

// A reload must never wait for a rule application: that one may itself be
// waiting for the main thread to take its "Hit" line.
TEST_F(Rule_Set, ReloadDoesNotWaitForARunningApplication) {
    struct Blocking_Log : base::File_Stream {
        std::promise<void> entered, released;
        std::shared_future<void> go = released.get_future().share();
        void write_string(std::string_view) override {
            entered.set_value();
            go.wait_for(10s);
        }
    } blocking;
    base::window_log = &blocking;
    zib::load_settings_text(settings({{".*", "\\<b\\>", "<strong>"}}));
    auto running = std::async(std::launch::async, [] { return apply_rules("u", "<b>"); });
    ASSERT_EQ(blocking.entered.get_future().wait_for(10s), std::future_status::ready);
    zib::load_settings_text(settings({{".*", "\\<b\\>", "<em>"}}));  // while the application waits on its log line
    blocking.released.set_value();
    // The running application finishes on the rules it started with; the next uses the new ones.
    EXPECT_EQ(running.get(), "<strong>");
    base::window_log = &log;
    EXPECT_EQ(apply_rules("u", "<b>"), "<em>");
}

}  // namespace
