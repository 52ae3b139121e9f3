#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "regexp_test_support.hpp"

namespace {

using Pieces = std::vector<std::string_view>;

TEST(Regular_Expression, MatchesWholeLooksAtTheFirstWayOnly) {
    struct Case {
        const char* pattern;
        const char* text;
        bool want;
    } cases[] = {
        {"", "", true},
        {"", "a", false},
        {"ab|a", "ab", true},
        {"a|ab", "ab", false},
        {"a*", "aaa", true},
        {"a*?", "aaa", false},
        {"a+?$", "aaa", true},
        {"?1:", "", true},
        {"http://[^/]*/ads/.*", "http://example.com/ads/x.gif", true},
        {"http://[^/]*/ads/.*", "http://example.com/img/x.gif", false},
    };
    for (const auto& c : cases) {
        Regular_Expression re(c.pattern, 1, 0x02);
        EXPECT_EQ(re.matches_whole(c.text), c.want) << c.pattern << " on " << c.text;
    }
}

TEST(Regular_Expression, FindAndSearch) {
    Regular_Expression empty("", 1, 0);
    EXPECT_EQ(empty.find(""), -1);
    EXPECT_EQ(empty.find("ab"), 0);
    Regular_Expression end("$", 1, 0);
    EXPECT_EQ(end.find("abc"), -1);  // never tried at the text end
    Regular_Expression end_multiline("$", 1, 0x10);
    EXPECT_EQ(end_multiline.find("a\n"), 1);

    Regular_Expression b("b", 1, 0);
    std::ptrdiff_t s = 0, e = 0;
    EXPECT_TRUE(b.search("abcb", 2, s, e));
    EXPECT_EQ(s, 3);
    EXPECT_EQ(e, 4);
    EXPECT_FALSE(b.search("abcb", 4, s, e));
    EXPECT_EQ(s, -1);
    EXPECT_EQ(e, -1);
    EXPECT_FALSE(b.search("abcb", 99, s, e));
    EXPECT_FALSE(b.search("abcb", -1, s, e));

    // The start anchor sees the real text start even when searching further on.
    Regular_Expression start("^a", 1, 0);
    EXPECT_FALSE(start.search("aaa", 1, s, e));
}

TEST(Regular_Expression, Captures) {
    Regular_Expression re("(?1:[a-z]+)\\=(?2:[0-9]+)", 1, 0);
    Regular_Expression::Captures captures{{7, "stale"}};
    EXPECT_EQ(re.find_with_captures("x id=42", captures), 2);
    EXPECT_EQ(captures.size(), 2u);
    EXPECT_EQ(captures[1], "id");
    EXPECT_EQ(captures[2], "42");

    // A capture in a repetition is reported at every pass, the last one wins,
    // even one that backtracking gives back.
    Regular_Expression passes("(?1:[a-z])*[a-z]", 1, 0);
    EXPECT_EQ(passes.find_with_captures("abc", captures), 0);
    EXPECT_EQ(captures[1], "c");

    // Two captures of one number: the end reached first is reported last
    // (after everything that follows it has matched), so it wins.
    Regular_Expression shared("(?1:a(?1:b))", 1, 0);
    EXPECT_EQ(shared.find_with_captures("ab", captures), 0);
    EXPECT_EQ(captures[1], "b");
    Regular_Expression in_order("(?1:a)(?1:b)", 1, 0);
    EXPECT_EQ(in_order.find_with_captures("ab", captures), 0);
    EXPECT_EQ(captures[1], "a");

    // Only a sub-match's success reports; an attempt's failed tail does not.
    Regular_Expression failed("(?1:a)x|b", 1, 0);
    EXPECT_EQ(failed.find_with_captures("ab", captures), 1);
    EXPECT_EQ(captures.count(1), 0u);

    Regular_Expression big("(?$1F:x)(?4294967295:y)", 1, 0);
    EXPECT_EQ(big.find_with_captures("xy", captures), 0);
    EXPECT_EQ(captures[31], "x");
    EXPECT_EQ(captures[-1], "y");

    Regular_Expression none("?1:", 1, 0);
    EXPECT_EQ(none.find_with_captures("a", captures), 0);
    EXPECT_TRUE(captures.empty());
}

TEST(Regular_Expression, SplitAndFindAll) {
    Regular_Expression comma(",", 1, 0);
    EXPECT_EQ(comma.split("a,,b"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(comma.split("a,"), (Pieces{"a", ""}));
    EXPECT_EQ(comma.split(""), (Pieces{""}));
    Regular_Expression digits("[0-9]+", 1, 0);
    EXPECT_EQ(digits.find_all("a1b22"), (Pieces{"1", "22"}));
    EXPECT_EQ(digits.find_all("ab"), Pieces{});
    Regular_Expression start("^a", 1, 0);
    EXPECT_EQ(start.split("aaa"), (Pieces{"", "", "", ""}));

    // Empty matches move on by one character and lose nothing.
    Regular_Expression maybe("x*", 1, 0);
    EXPECT_EQ(maybe.split("abc"), (Pieces{"", "a", "b", "c"}));
    EXPECT_EQ(maybe.find_all("axxb"), (Pieces{"", "xx", ""}));
    Regular_Expression nothing("", 1, 0);
    EXPECT_EQ(nothing.find_all("ab"), (Pieces{"", ""}));
    // In 16-bit mode the step is one unit.
    Regular_Expression wide("?w:x*", 1, 0);
    EXPECT_EQ(wide.split(utf16(u"ab")).size(), 3u);
}

TEST(Regular_Expression, ReplaceAll) {
    struct Case {
        const char* pattern;
        const char* text;
        const char* template_text;
        const char* want;
        int options = 0;
    } cases[] = {
        {"b", "abcb", "[$&]", "a[b]c[b]"},
        {"b", "ab", "$`|", "aa|"},
        {"b", "abc", "<$'>", "a<c>c"},
        {"b", "abc", "$1$x$$", "a$x$$c"},
        {"b", "abc", "x$", "ax$c"},
        {"^a", "aaa", "-", "-aa"},
        {"(?1:src|href)\\=\"http://(?2:[^\"/]*)/", "<a HREF=\"http://ads.example/x\">",
         "$1=\"http://127.0.0.1:8080/$2/", "<a HREF=\"http://127.0.0.1:8080/ads.example/x\">", 0x12},
        {"x*", "axb", "-", "-a--b"},
        {"", "ab", "-", "-a-b"},
        {"<", "ab cd", "|", "|ab |cd"},
        {"zz", "", "-", ""},
        {"(?1:a)|(?2:b)", "ab", "[$1$2]", "[a][b]"},
    };
    for (const auto& c : cases) {
        Regular_Expression re(c.pattern, 1, c.options);
        EXPECT_EQ(re.replace_all(c.text, c.template_text), c.want) << c.pattern << " on " << c.text;
    }
}

TEST(Regular_Expression, ExpandTemplateAddsLookedUpNumbers) {
    Regular_Expression re("a", 1, 0);
    Regular_Expression::Captures captures{{3, "three"}};
    EXPECT_EQ(re.expand_template("$3$4$&$`$'", "p", "m", "s", captures), "threemps");
    EXPECT_EQ(captures.size(), 2u);
    EXPECT_EQ(captures[4], "");
}

TEST(Regular_Expression, NextPositionByMode) {
    const char text[] = "\xC3\xA9\xE3\x81\x82\x8E\xA1\xF0x";
    struct Case {
        int mode, offset, want;
    } cases[] = {
        {0, 0, 1}, {1, 0, 1}, {2, 0, 1}, {3, 0, 2}, {3, 2, 3}, {3, 7, 1}, {3, 3, 1},
        {4, 0, 2}, {5, 0, 2}, {6, 0, 2}, {6, 5, 2}, {6, 7, 2}, {6, 8, 1},
    };
    for (const auto& c : cases) {
        Regular_Expression re("", c.mode, 0);
        EXPECT_EQ(re.next_position(text + c.offset) - (text + c.offset), c.want) << c.mode << " " << c.offset;
    }
}

TEST(Regular_Expression, MatchAtReportsTheEnd) {
    Regular_Expression re("a+", 1, 0);
    std::string text = "baab";
    Regular_Expression::Match_State state{text.data(), text.data() + text.size(), nullptr, nullptr};
    const char* p = text.data();
    EXPECT_FALSE(re.match_at(state, p));
    EXPECT_EQ(p, text.data());
    p = text.data() + 1;
    EXPECT_TRUE(re.match_at(state, p));
    EXPECT_EQ(p, text.data() + 3);
}

TEST(Regular_Expression, SeparateObjectsOnSeparateThreads) {
    std::string page;
    for (int i = 0; i < 2000; ++i) page += "<div class=\"ad\">Banner " + std::to_string(i) + "</div>\r\n";
    Regular_Expression reference("\\<div class\\=\"ad\"\\>.*?\\</div\\>", 1, 0x12);
    const std::string want = reference.replace_all(page, "");
    ASSERT_EQ(want.find("div"), std::string::npos);
    std::vector<std::thread> threads;
    std::vector<std::string> results(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            Regular_Expression re("\\<div class\\=\"ad\"\\>.*?\\</div\\>", 1, 0x12);
            for (int i = 0; i < 5; ++i) results[t] = re.replace_all(page, "");
        });
    for (auto& th : threads) th.join();
    for (const auto& r : results) EXPECT_EQ(r, want);
}

}  // namespace
