#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "regexp_test_support.hpp"

using kelregexp::mode_a;
using kelregexp::mode_e;
using kelregexp::mode_l;
using kelregexp::mode_n;
using kelregexp::mode_s;
using kelregexp::mode_u;
using kelregexp::mode_w;
using kelregexp::option_ignore_case;
using kelregexp::option_multiline;
using kelregexp::Regular_Expression;

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
        Regular_Expression re(c.pattern, mode_a, option_ignore_case);
        EXPECT_EQ(re.matches_whole(c.text), c.want) << c.pattern << " on " << c.text;
    }
}

TEST(Regular_Expression, FindAndSearch) {
    Regular_Expression empty("", mode_a, 0);
    EXPECT_EQ(empty.find(""), -1);
    EXPECT_EQ(empty.find("ab"), 0);
    Regular_Expression end("$", mode_a, 0);
    EXPECT_EQ(end.find("abc"), -1);  // never tried at the text end
    Regular_Expression end_multiline("$", mode_a, option_multiline);
    EXPECT_EQ(end_multiline.find("a\n"), 1);

    Regular_Expression b("b", mode_a, 0);
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
    Regular_Expression start("^a", mode_a, 0);
    EXPECT_FALSE(start.search("aaa", 1, s, e));
}

TEST(Regular_Expression, Captures) {
    Regular_Expression re("(?1:[a-z]+)\\=(?2:[0-9]+)", mode_a, 0);
    Regular_Expression::Captures captures{{7, "stale"}};
    EXPECT_EQ(re.find_with_captures("x id=42", captures), 2);
    EXPECT_EQ(captures.size(), 2u);
    EXPECT_EQ(captures[1], "id");
    EXPECT_EQ(captures[2], "42");

    // A capture in a repetition is reported at every pass, the last one wins,
    // even one that backtracking gives back.
    Regular_Expression passes("(?1:[a-z])*[a-z]", mode_a, 0);
    EXPECT_EQ(passes.find_with_captures("abc", captures), 0);
    EXPECT_EQ(captures[1], "c");

    // Two captures of one number: the end reached first is reported last
    // (after everything that follows it has matched), so it wins.
    Regular_Expression shared("(?1:a(?1:b))", mode_a, 0);
    EXPECT_EQ(shared.find_with_captures("ab", captures), 0);
    EXPECT_EQ(captures[1], "b");
    Regular_Expression in_order("(?1:a)(?1:b)", mode_a, 0);
    EXPECT_EQ(in_order.find_with_captures("ab", captures), 0);
    EXPECT_EQ(captures[1], "a");

    // Only a sub-match's success reports; an attempt's failed tail does not.
    Regular_Expression failed("(?1:a)x|b", mode_a, 0);
    EXPECT_EQ(failed.find_with_captures("ab", captures), 1);
    EXPECT_EQ(captures.count(1), 0u);

    Regular_Expression big("(?$1F:x)(?4294967295:y)", mode_a, 0);
    EXPECT_EQ(big.find_with_captures("xy", captures), 0);
    EXPECT_EQ(captures[31], "x");
    EXPECT_EQ(captures[-1], "y");

    Regular_Expression none("?1:", mode_a, 0);
    EXPECT_EQ(none.find_with_captures("a", captures), 0);
    EXPECT_TRUE(captures.empty());
}

TEST(Regular_Expression, SplitAndFindAll) {
    Regular_Expression comma(",", mode_a, 0);
    EXPECT_EQ(comma.split("a,,b"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(comma.split("a,"), (Pieces{"a", ""}));
    EXPECT_EQ(comma.split(""), (Pieces{""}));
    Regular_Expression digits("[0-9]+", mode_a, 0);
    EXPECT_EQ(digits.find_all("a1b22"), (Pieces{"1", "22"}));
    EXPECT_EQ(digits.find_all("ab"), Pieces{});
    Regular_Expression start("^a", mode_a, 0);
    EXPECT_EQ(start.split("aaa"), (Pieces{"", "", "", ""}));

    // Empty matches move on by one character and lose nothing.
    Regular_Expression maybe("x*", mode_a, 0);
    EXPECT_EQ(maybe.split("abc"), (Pieces{"", "a", "b", "c"}));
    EXPECT_EQ(maybe.find_all("axxb"), (Pieces{"", "xx", ""}));
    Regular_Expression nothing("", mode_a, 0);
    EXPECT_EQ(nothing.find_all("ab"), (Pieces{"", ""}));
    // In 16-bit mode the step is one unit.
    Regular_Expression wide("?w:x*", mode_a, 0);
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
         "$1=\"http://127.0.0.1:8080/$2/", "<a HREF=\"http://127.0.0.1:8080/ads.example/x\">", ignore_case_multiline},
        {"x*", "axb", "-", "-a--b"},
        {"", "ab", "-", "-a-b"},
        {"<", "ab cd", "|", "|ab |cd"},
        {"zz", "", "-", ""},
        {"(?1:a)|(?2:b)", "ab", "[$1$2]", "[a][b]"},
    };
    for (const auto& c : cases) {
        Regular_Expression re(c.pattern, mode_a, c.options);
        EXPECT_EQ(re.replace_all(c.text, c.template_text), c.want) << c.pattern << " on " << c.text;
    }
}

TEST(Regular_Expression, ExpandTemplateAddsLookedUpNumbers) {
    Regular_Expression re("a", mode_a, 0);
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
        {mode_n, 0, 1}, {mode_a, 0, 1}, {mode_l, 0, 1}, {mode_u, 0, 2}, {mode_u, 2, 3}, {mode_u, 7, 1}, {mode_u, 3, 1},
        {mode_w, 0, 2}, {mode_s, 0, 2}, {mode_e, 0, 2}, {mode_e, 5, 2}, {mode_e, 7, 2}, {mode_e, 8, 1},
    };
    for (const auto& c : cases) {
        Regular_Expression re("", c.mode, 0);
        EXPECT_EQ(re.next_position(text + c.offset) - (text + c.offset), c.want) << c.mode << " " << c.offset;
    }
}

TEST(Regular_Expression, MatchAtReportsTheEnd) {
    Regular_Expression re("a+", mode_a, 0);
    std::string text = "baab";
    Regular_Expression::Match_State state{text.data(), text.data() + text.size(), nullptr, nullptr};
    const char* p = text.data();
    EXPECT_FALSE(re.match_at(state, p));
    EXPECT_EQ(p, text.data());
    p = text.data() + 1;
    EXPECT_TRUE(re.match_at(state, p));
    EXPECT_EQ(p, text.data() + 3);
}

// The search skips positions where no match can start (vector scans for
// one or two bytes of the pattern); it must find exactly the leftmost
// position where matching succeeds, tried one by one. Long texts with
// matches on and around 32-byte boundaries, in both cases.
TEST(Regular_Expression, SearchAgreesWithMatchingAtEveryPosition) {
    struct Case {
        const char* pattern;
        int options;
    } cases[] = {
        {"<(banner|sponsor|tracking|popup|adserver)>", ignore_case_multiline},  // large first-byte sets
        {"\\<script type\\=", ignore_case_multiline},                           // a small set
        {"zq", ignore_case_multiline},                                          // rare bytes
        {"[a-f][0-9]x", ignore_case_multiline},                                 // a class, then a digit
        {"(?1:src|href)\\=\"", ignore_case_multiline},
        {"e#200", ignore_case_multiline},
        {"[#192-#214][a-z]", option_ignore_case},  // a large set of bytes above 0x7F (byte order: no locale)
    };
    std::string text;
    const char* words[] = {"Banner", "sponsoR",   "popups", "adserver", "<SCRIPT type=", "zQ",    "c7x",  "HREF=\"",
                           "e\xC8",  "tracking_", "x",      "\xC5q",    "\xE5Q",         "\xC5-", "\xF7q"};
    for (int i = 0; text.size() < 6000; ++i) {
        text += words[(i * 7) % std::size(words)];
        text += std::string(static_cast<std::size_t>((i * 13) % 37), i % 3 ? ' ' : 'e') + " ";
    }
    for (const auto& [pattern, options] : cases) {
        const Regular_Expression re(pattern, mode_a, options);
        Regular_Expression::Match_State state{text.data(), text.data() + text.size(), nullptr, nullptr};
        // The first position at or after each one where matching succeeds.
        const auto size = static_cast<std::ptrdiff_t>(text.size());
        std::vector<std::ptrdiff_t> next(text.size() + 1, -1);
        std::size_t found = 0;
        for (std::ptrdiff_t q = size - 1; q >= 0; --q) {
            const char* p = text.data() + q;
            next[q] = re.match_at(state, p) ? q : next[q + 1];
            found += next[q] == q;
        }
        EXPECT_GT(found, 10u) << pattern;
        for (std::ptrdiff_t from = 0; from < size; ++from) {
            std::ptrdiff_t s, e;
            re.search(text, from, s, e);
            ASSERT_EQ(s, next[from]) << pattern << " from " << from;
        }
    }
}

// One compiled object used by 8 threads at once gives every thread the
// results it gives one thread alone: captures, greedy and lazy repetitions,
// look-aheads and every operation.
TEST(Regular_Expression, OneObjectSharedByEightThreads) {
    std::string page;
    for (int i = 0; i < 300; ++i)
        page += "<div class=\"ad\">Banner " + std::to_string(i) + "</div>\r\n<a href=\"http://x" +
                std::to_string(i % 7) + ".example/p\">id=" + std::to_string(i * 31) + "</a>\r\n";
    struct Shared {
        const char* pattern;
        const char* template_text;
    } shared[] = {
        {"\\<div class\\=\"ad\"\\>.*?\\</div\\>", ""},
        {"(?1:[a-z]+)\\=(?2:[0-9]+)", "$2=$1"},
        {"(?1:href)\\=\"http://(?2:[^\"/]*)/", "$1=\"http://proxy/$2/"},
        {"(?1:[a-z])*[a-z]~x", "[$1]"},
        {"(?3:\\d)+!|=(?4:b)a", "<$3$4>"},
    };
    const std::string_view text = page;
    auto results = [&](const Regular_Expression& re, const char* template_text) {
        std::string all = re.replace_all(text, template_text);
        Regular_Expression::Captures captures;
        all += "|" + std::to_string(re.find_with_captures(text.substr(1000), captures));
        for (const auto& [number, part] : captures) all += "|" + std::to_string(number) + "=" + std::string(part);
        for (auto piece : re.find_all(text.substr(0, 5000))) all += "|" + std::string(piece);
        all += "|" + std::to_string(re.split(page).size()) + "|" + std::to_string(re.matches_whole(page));
        return all;
    };
    std::vector<std::unique_ptr<Regular_Expression>> patterns;
    std::vector<std::string> alone;
    for (const auto& s : shared) {
        patterns.push_back(std::make_unique<Regular_Expression>(s.pattern, mode_a, ignore_case_multiline));
        alone.push_back(results(*patterns.back(), s.template_text));
    }
    std::atomic<int> ready{0};
    std::vector<std::vector<std::string>> seen(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < 8) std::this_thread::yield();
            // Each thread starts with a different pattern, so that every
            // pattern is in use by several threads at every moment.
            for (int round = 0; round < 3; ++round)
                for (std::size_t k = 0; k < patterns.size(); ++k) {
                    std::size_t i = (k + static_cast<std::size_t>(t)) % patterns.size();
                    seen[t].push_back(results(*patterns[i], shared[i].template_text));
                }
        });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 8; ++t) {
        ASSERT_EQ(seen[t].size(), 3 * patterns.size());
        for (std::size_t j = 0; j < seen[t].size(); ++j) {
            std::size_t i = (j % patterns.size() + static_cast<std::size_t>(t)) % patterns.size();
            EXPECT_TRUE(seen[t][j] == alone[i]) << "thread " << t << " pattern " << shared[i].pattern;
        }
    }
}

}  // namespace
