// The step budget: a pattern that backtracks without end gives up with
// Match_Budget_Error, in every operation, after a number of steps bounded by
// the text's size; ordinary matching never meets it.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "regexp_test_support.hpp"

using kelregexp::Match_Budget_Error;
using kelregexp::mode_a;
using kelregexp::Regular_Expression;

namespace {

const char* const catastrophic = "(x*)(x*)(x*)(x*)(x*)(x*)y";

std::string catastrophic_line() { return std::string(100, 'x') + "z y"; }

TEST(Budget, EveryOperationGivesUpOnACatastrophicPattern) {
    const Regular_Expression re(catastrophic, mode_a, ignore_case_multiline);
    const std::string text = catastrophic_line();
    const std::function<void()> operations[] = {
        [&] { re.replace_all(text, "-"); },
        [&] { re.find(text); },
        [&] {
            Regular_Expression::Captures captures;
            re.find_with_captures(text, captures);
        },
        [&] { re.split(text); },
        [&] { re.find_all(text); },
        [&] { re.matches_whole(text); },
    };
    for (const auto& operation : operations) {
        try {
            operation();
            ADD_FAILURE() << "no budget error";
        } catch (const Match_Budget_Error& e) {
            EXPECT_EQ(e.budget(), kelregexp::step_budget(text.size()));
            EXPECT_EQ(e.message(), "step budget exhausted (" + std::to_string(e.budget()) + " steps for 103 bytes)");
            EXPECT_STREQ(e.type_name(), "Match_Budget_Error");
        }
    }
    // On a line it can finish, the same pattern is an ordinary one.
    EXPECT_EQ(re.replace_all("xxxxy xy", "-"), "- -");
}

// Each search of one replace_all is cheap here, but there are many of them:
// the budget belongs to the whole operation, so the total is bounded too.
TEST(Budget, OneBudgetForTheWholeOperation) {
    const Regular_Expression re("(x*)(x*)(x*)(x*)(x*)(x*)y|q", mode_a, ignore_case_multiline);
    std::string segment = std::string(12, 'x') + "z q ";
    Regular_Expression::Replace_Stats stats;
    EXPECT_EQ(re.replace_all(segment, "Q", stats), std::string(12, 'x') + "z Q ");
    EXPECT_LT(stats.steps, kelregexp::step_budget_base);
    EXPECT_GT(stats.steps * 10, kelregexp::step_budget_per_byte * static_cast<std::int64_t>(segment.size()));
    std::string page;
    while (page.size() < 50000) page += segment;
    EXPECT_THROW(re.replace_all(page, "Q"), Match_Budget_Error);
}

// Steps of a rule typical of filters stay a small multiple of the page size.
TEST(Budget, OrdinaryPatternsTakeFewStepsPerByte) {
    std::string page;
    for (int i = 0; i < 500; ++i)
        page += "<div class=\"ad\"><a href=\"http://ads.example/" + std::to_string(i) +
                "\">Banner</a></div>\r\n<p>Some text with words, numbers 12 and <b>tags</b>.</p>\r\n";
    const char* patterns[] = {"\\<div class\\=\"ad\"\\>.*?\\</div\\>", "(?1:src|href)\\=\"http://(?2:[^\"/]*)/",
                              "banner|sponsor|tracking", "\\<(?1:\\w+)[^>]*\\>", ".*x"};
    for (const char* pattern : patterns) {
        const Regular_Expression re(pattern, mode_a, ignore_case_multiline);
        Regular_Expression::Replace_Stats stats;
        re.replace_all(page, "$1", stats);
        EXPECT_LT(stats.steps, 20 * static_cast<std::int64_t>(page.size())) << pattern;
    }
}

// A capture callback that matches with another pattern on the same thread
// gets state of its own: neither match disturbs the other.
TEST(Budget, NestedMatchOnOneThread) {
    const Regular_Expression outer("(?1:[a-z]+)(?2:[0-9]+)", mode_a, 0);
    const Regular_Expression inner("[0-9]+", mode_a, 0);
    struct Context {
        const Regular_Expression* inner;
        std::vector<std::string> seen;
    } context{&inner, {}};
    auto callback = [](std::int32_t number, const char* start, const char* end, void* c) {
        auto& ctx = *static_cast<Context*>(c);
        std::string part(start, end);
        ctx.seen.push_back(std::to_string(number) + ":" + part + ":" + std::to_string(ctx.inner->find("ab" + part)));
    };
    const std::string text = "abc123!";
    Regular_Expression::Match_State state{text.data(), text.data() + text.size(), callback, &context};
    const char* position = text.data();
    ASSERT_TRUE(outer.match_at(state, position));
    EXPECT_EQ(position, text.data() + 6);
    EXPECT_EQ(context.seen, (std::vector<std::string>{"2:123:2", "1:abc:-1"}));
}

}  // namespace
