#include "zib/rule_set.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "capture_stream.hpp"
#include "kelyaml/yaml_error.hpp"
#include "zib/exception.hpp"
#include "zib/streams.hpp"

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
    // The application holds rule_lock and waits on its log line; the reload goes through.
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

TEST(Settings_File, MissingFileIsAFileException) {
    const auto old = std::filesystem::current_path();
    const auto dir = std::filesystem::temp_directory_path() / ("brindlemoor-rules-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
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
