// The rule list's reloads, which never wait for pages
// being filtered. (Rules on pages, bad patterns and the step budget: in
// program_e2e.py, through the program and its rule tester.)
#include "zib/rule_set.hpp"

#include <gtest/gtest.h>

#include <array>
#include <future>

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

// Settings without a "filter" list keep the rules, whole. (The other corners
// of the schema: the YAML reader's tests.)
TEST_F(Rule_Set, WithoutAFilterListTheRulesStay) {
    zib::load_settings_text(settings({{".*", "x", "[$&]"}}));
    zib::load_settings_text("--- !zib\nsomething: else\n");
    EXPECT_EQ(apply_rules("u", "x y"), "[x] y");
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
