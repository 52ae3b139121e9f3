#include "zib/rule_set.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "base/exception.hpp"
#include "base/streams.hpp"
#include "capture_stream.hpp"
#include "kelyaml/yaml_error.hpp"

using zib::apply_rules;
using zib::apply_rules_observed;
using zib::Bad_Pattern;
using zib::bad_pattern_text;
using zib::current_rules;
using zib::file_error_text;
using zib::load_settings;
using zib::load_settings_text;
using zib::Rule_List;
using zib::Rule_Outcome;
using zib::rules;

using base::error_log;
using base::File_Exception;
using base::File_Stream;
using base::window_log;

using kelyaml::Yaml_Error;

namespace {

using namespace std::chrono_literals;

const std::string two_rules = R"(--- !zib
filter:
  - uri: http://example\.org/.*
    search: \<b\>
    replace: <strong>
  - uri: HTTP://EXAMPLE\.ORG/news/.*
    search: (?1:[a-z]+)@example
    replace: [$1 at $&]
)";

class Rule_Set : public ::testing::Test {
protected:
    void SetUp() override {
        window_log = &log;
        error_log = &errors;
        rules = std::make_shared<Rule_List>();
    }
    // Loads the settings, keeping the bad-pattern reports instead of showing them.
    void load(std::string_view text) {
        load_settings_text(text, [&](const Bad_Pattern& bad) { bad_patterns.push_back(bad); });
    }
    std::vector<Bad_Pattern> bad_patterns;
    void TearDown() override {
        window_log = nullptr;
        error_log = nullptr;
    }
    test::Capture_Stream log, errors;
};

}  // namespace

TEST_F(Rule_Set, MatchingRulesApplyInOrderEachOnThePreviousOutput) {
    load_settings_text(two_rules);
    ASSERT_EQ(current_rules()->size(), 2u);
    EXPECT_EQ(apply_rules("http://example.org/news/1", "<b>mail bob@example</b>"),
              "<strong>mail [bob at bob@example]</b>");
    EXPECT_EQ(log.text(), "** Hit 0 rule. **\n** Hit 1 rule. **\n");
}

TEST_F(Rule_Set, UriMustMatchWholeWithCaseIgnored) {
    load_settings_text(two_rules);
    struct Case {
        std::string uri, expected_log;
    };
    const Case cases[] = {
        {"HTTP://Example.ORG/index.html", "** Hit 0 rule. **\n"},
        {"http://example.org.evil/x", ""},  // only a prefix matches
        {"xhttp://example.org/", ""},
        {"http://example.org/news/", "** Hit 0 rule. **\n** Hit 1 rule. **\n"},
    };
    for (const auto& c : cases) {
        log.clear();
        apply_rules(c.uri, "<p>no match here</p>");
        EXPECT_EQ(log.text(), c.expected_log) << c.uri;
    }
}

TEST_F(Rule_Set, SchemaCornerCases) {
    struct Case {
        std::string document;
        std::size_t rules;
        std::string result;  // of "<b>x</b>" at http://a/
    };
    const Case cases[] = {
        // A missing "replace" deletes every match.
        {"--- !zib\nfilter:\n  - uri: .*\n    search: \\<b\\>\n", 1, "x</b>"},
        // Unknown keys are ignored; the last "filter" wins.
        {"--- !zib\nother: 1\nfilter:\n  - uri: .*\n    search: x\n    replace: 1\nfilter:\n  - uri: .*\n    search: "
         "x\n    replace: 2\n    colour: red\n",
         1, "<b>2</b>"},
        // A "filter" that is not a sequence is ignored: the rules stay.
        {"--- !zib\nfilter:\n", 1, "<b>2</b>"},
        {"--- !zib\nfilter: none\n", 1, "<b>2</b>"},
    };
    for (const auto& c : cases) {
        load_settings_text(c.document);
        EXPECT_EQ(current_rules()->size(), c.rules) << c.document;
        EXPECT_EQ(apply_rules("http://a/", "<b>x</b>"), c.result) << c.document;
    }
}

TEST_F(Rule_Set, ReloadWithoutFilterKeepsTheRulesAndYamlErrorsLeaveThemInPlace) {
    load_settings_text(two_rules);
    load_settings_text("--- !zib\nsomething: else\n");
    EXPECT_EQ(current_rules()->size(), 2u);
    EXPECT_EQ(apply_rules("http://example.org/", "<b>"), "<strong>");
    EXPECT_THROW(load_settings_text("filter:\n"), Yaml_Error);  // no header: not a zib document
    EXPECT_EQ(current_rules()->size(), 2u);
}

// A reload must never wait for a rule application: that one may itself be
// waiting for the main thread to take its "Hit" line.
TEST_F(Rule_Set, ReloadDoesNotWaitForARunningApplication) {
    struct Blocking_Log : File_Stream {
        std::mutex m;
        std::condition_variable cv;
        bool entered = false, released = false;
        void write_string(std::string_view) override {
            std::unique_lock lock(m);
            entered = true;
            cv.notify_all();
            cv.wait_for(lock, 10s, [&] { return released; });
        }
    } blocking;
    window_log = &blocking;
    load_settings_text(two_rules);

    auto running = std::async(std::launch::async, [] { return apply_rules("http://example.org/", "<b>"); });
    {
        std::unique_lock lock(blocking.m);
        ASSERT_TRUE(blocking.cv.wait_for(lock, 10s, [&] { return blocking.entered; }));
    }
    // The application waits on its log line; the reload goes through.
    const auto start = std::chrono::steady_clock::now();
    load_settings_text("--- !zib\nfilter:\n  - uri: .*\n    search: \\<b\\>\n    replace: <em>\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    {
        std::lock_guard lock(blocking.m);
        blocking.released = true;
    }
    blocking.cv.notify_all();
    // The running application finishes on the rules it started with; the next uses the new ones.
    EXPECT_EQ(running.get(), "<strong>");
    window_log = &log;
    EXPECT_EQ(apply_rules("http://anything/", "<b>"), "<em>");
}

// Patterns are shared by every connection: filtering runs on 8 threads at
// once while the main thread reloads, and every page comes out filtered by
// exactly one of the two rule lists, whole.
TEST_F(Rule_Set, ReloadDuringParallelFiltering) {
    const std::string first =
        "--- !zib\nfilter:\n  - uri: .*\n    search: (?1:[a-z]+)\\=(?2:\\d+)\n    replace: $2=$1\n"
        "  - uri: .*\n    search: \\<b\\>\n    replace: <strong>\n";
    const std::string second =
        "--- !zib\nfilter:\n  - uri: .*\n    search: \\<b\\>(?1:.*?)\\</b\\>\n    replace: [$1]\n";
    std::string page;
    for (int i = 0; i < 400; ++i) page += "<b>id=" + std::to_string(i) + "</b>\r\n";
    load(first);
    const std::string by_first = apply_rules("http://a/", page);
    load(second);
    const std::string by_second = apply_rules("http://a/", page);
    ASSERT_NE(by_first, by_second);

    std::atomic<bool> done{false};
    std::atomic<int> pages{0};
    std::vector<std::future<std::set<std::string>>> filters;
    for (int t = 0; t < 8; ++t)
        filters.push_back(std::async(std::launch::async, [&] {
            std::set<std::string> outputs;
            while (!done.load()) {
                outputs.insert(apply_rules("http://a/", page));
                pages.fetch_add(1);
            }
            return outputs;
        }));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (int reloads = 0; (reloads < 40 || pages.load() < 40) && std::chrono::steady_clock::now() < deadline;
         ++reloads) {
        load(reloads % 2 ? first : second);
        std::this_thread::yield();
    }
    done = true;
    std::set<std::string> seen;
    for (auto& f : filters) seen.merge(f.get());
    EXPECT_TRUE(seen.size() <= 2 && (seen.count(by_first) + seen.count(by_second)) == seen.size())
        << seen.size() << " different outputs";
    EXPECT_TRUE(bad_patterns.empty());
}

// A rule that backtracks without end on a page gives up at its step budget:
// the page keeps what the rules before it did, the rules after it still run,
// and the reason is logged with the rule's index and the URI.
TEST_F(Rule_Set, RuleOutOfStepsIsSkippedAndLogged) {
    load(
        "--- !zib\nfilter:\n"
        "  - uri: .*\n    search: zz\n    replace: ZZ\n"
        "  - uri: .*\n    search: (x*)(x*)(x*)(x*)(x*)(x*)y\n    replace: caught\n"
        "  - uri: .*\n    search: \\<p\\>\n    replace: <p class=\"done\">\n"
        "  - uri: http://(a*)(a*)(a*)(a*)(a*)(a*)b\n    search: p\n    replace: P\n");
    const std::string line = std::string(120, 'x') + "z y";
    const std::string page = "<p>zz " + line + "</p>";
    const std::string uri = "http://" + std::string(60, 'a') + "c/";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(apply_rules(uri, page), "<p class=\"done\">ZZ " + line + "</p>");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    const std::string budget_html = std::to_string(kelregexp::step_budget(page.size()));
    const std::string budget_uri = std::to_string(kelregexp::step_budget(uri.size()));
    EXPECT_EQ(errors.text(), "error HTML step budget exhausted (" + budget_html + " steps for " +
                                 std::to_string(page.size()) + " bytes) (Match_Budget_Error) 1 \"" + uri +
                                 "\"\r\n"
                                 "error URI step budget exhausted (" +
                                 budget_uri + " steps for " + std::to_string(uri.size()) +
                                 " bytes) (Match_Budget_Error) 3 \"" + uri + "\"\r\n");
    EXPECT_EQ(log.text(), "** Hit 0 rule. **\n** Hit 1 rule. **\nerror HTML step budget exhausted (" + budget_html +
                              " steps for " + std::to_string(page.size()) + " bytes) (Match_Budget_Error) 1 \"" + uri +
                              "\"\n** Hit 2 rule. **\nerror URI step budget exhausted (" + budget_uri + " steps for " +
                              std::to_string(uri.size()) + " bytes) (Match_Budget_Error) 3 \"" + uri + "\"\n");
}

// What the rule tester is told about each rule.
TEST_F(Rule_Set, ObserverSeesEveryValidRule) {
    load(
        "--- !zib\nfilter:\n  - uri: http://a/.*\n    search: b\n    replace: B\n"
        "  - uri: (\n    search: b\n"
        "  - uri: http://z/.*\n    search: b\n"
        "  - uri: .*\n    search: (x*)(x*)(x*)(x*)(x*)(x*)y\n");
    std::vector<Rule_Outcome> seen;
    const std::string page = "abcb " + std::string(100, 'x') + "z y";
    EXPECT_EQ(apply_rules_observed("http://a/", page, [&](const Rule_Outcome& o) { seen.push_back(o); }),
              "aBcB " + std::string(100, 'x') + "z y");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].index, 0u);
    EXPECT_TRUE(seen[0].uri_matched);
    EXPECT_EQ(seen[0].replaced, 2u);
    EXPECT_GT(seen[0].steps, 0);
    EXPECT_EQ(seen[1].index, 2u);
    EXPECT_FALSE(seen[1].uri_matched);
    EXPECT_EQ(seen[2].index, 3u);
    EXPECT_TRUE(seen[2].uri_matched);
    EXPECT_EQ(seen[2].replaced, 0u);
    EXPECT_EQ(seen[2].steps, kelregexp::step_budget(page.size()));
    EXPECT_NE(seen[2].error.find("step budget exhausted"), std::string::npos);
}

// A pattern that does not compile disables its rule and is reported with the
// field, the position and the reason; the message keeps its first line.
TEST_F(Rule_Set, BadPatternsAreReportedWithWhereAndWhy) {
    load(
        "--- !zib\nfilter:\n  - uri: .*\n    search: a\n    replace: b\n"
        "  - uri: http://(a\n    search: x\n"
        "  - uri: .*\n    search: \\<title\\>(?1:.*?\\</title\\>\n"
        "  - uri: .*\n    search: c\n    replace: d\n");
    ASSERT_EQ(bad_patterns.size(), 2u);
    EXPECT_EQ(bad_pattern_text(bad_patterns[0]), "1番目の正規表現が変です\nuri, at 7: group not closed — http://(a");
    EXPECT_EQ(bad_pattern_text(bad_patterns[1]),
              "2番目の正規表現が変です\nsearch, at 9: group not closed — \\<title\\>(?1:.*?\\</title\\>");
    const auto list = current_rules();
    EXPECT_EQ((*list)[1].valid, 0);
    EXPECT_EQ((*list)[1].search_pattern, nullptr);  // not compiled after the bad URI pattern
    EXPECT_EQ((*list)[2].valid, 0);
    EXPECT_NE((*list)[2].uri_pattern, nullptr);  // the URI pattern built before stays
    EXPECT_EQ(apply_rules("http://x/", "ac"), "bd");
    EXPECT_EQ(log.text(), "** Hit 0 rule. **\n** Hit 3 rule. **\n");
}

TEST(Settings_File, MissingFileIsAFileException) {
    const auto old = std::filesystem::current_path();
    const auto dir = std::filesystem::temp_directory_path() /
                     ("brindlemoor-rules-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    try {
        load_settings();
        ADD_FAILURE() << "no error";
    } catch (const File_Exception& e) {
        EXPECT_EQ(e.message(), "setting.yaml: file not found");
        EXPECT_STREQ(e.type_name(), "FileException");
    }
    std::ofstream("setting.yaml") << "--- !zib\nfilter:\n  - uri: .*\n    search: a\n    replace: b\n";
    load_settings();
    EXPECT_EQ(current_rules()->size(), 1u);
    std::filesystem::current_path(old);
    std::filesystem::remove_all(dir);
}

TEST(Settings_File, ShortTextsForSystemErrors) {
    EXPECT_EQ(file_error_text(2), "file not found");
    EXPECT_EQ(file_error_text(5), "access denied");
    EXPECT_EQ(file_error_text(32), "sharing violation");
    EXPECT_EQ(file_error_text(1234), "1234");
}
