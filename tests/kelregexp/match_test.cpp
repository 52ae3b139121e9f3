#include <gtest/gtest.h>

#include <pthread.h>

#include <string>

#include "regexp_test_support.hpp"

using kelregexp::mode_a;
using kelregexp::option_ignore_case;
using kelregexp::option_locale;
using kelregexp::option_multiline;
using kelregexp::Regular_Expression;

namespace {

struct Case {
    const char* pattern;
    std::string text;
    const char* want;  // span_of's answer
    int options = 0;
    int mode = mode_a;
};

void run_cases(const std::vector<Case>& cases) {
    for (const auto& c : cases)
        EXPECT_EQ(span_of(c.pattern, c.text, c.mode, c.options), c.want)
            << "pattern " << c.pattern << " text " << c.text << " options " << c.options << " mode " << c.mode;
}

TEST(Atoms, LiteralsCodesAndEscapes) {
    run_cases({
        {"b", "abc", "1,2"},
        {"#65", "xA", "1,2"},
        {"#$41", "xA", "1,2"},
        {"#300", "x,", "1,2"},  // low 8 bits in mode A
        {"\\a\\b\\e\\f\\l\\r\\t\\v\\z", "x\a\b\x1b\f\n\r\t\v\x1a", "1,10"},
        {"\\T\\#", "x\t#", "1,3"},
        {"\\A\\B\\E\\F\\L\\R\\V\\Z", "x\a\b\x1b\f\n\r\v\x1a", "1,9"},  // the case of the letter does not matter
        {"\\0", std::string("a\0", 2), "1,2"},
        {"\\.\\(\\\\\\$\\<\\=", "a.(\\$<=", "1,7"},
        {"\\q", "aq", "1,2"},
        {"\\d+", "ab123c", "2,5"},
        {"\\D+", "ab123c", "2,5"},  // \D is \d
        {"\\w+", "  a_Z9- ", "2,6"},
        {"\\s+", "ab \t\x01\x00x", "2,5"},
        {"\\S", "ab c", "2,3"},
        {".", "", "none"},
        {"a.c", "a\nc", "0,3"},
        {"a.c", "a\nc", "none", option_multiline},
        {"a.c", "a\rc", "none", ignore_case_multiline},
    });
}

TEST(Atoms, Classes) {
    run_cases({
        {"[abc]+", "xxbcay", "2,5"},
        {"[a-c]+", "xxbcay", "2,5"},
        {"[]a]+", "x]a]", "1,4"},
        {"[\\]", "a\\b", "1,2"},
        {"[^a]", "aab", "2,3"},
        {"[~a]", "aab", "2,3"},
        {"[^a]", "a\rb", "1,2"},
        {"[^a]", "a\rb", "2,3", option_multiline},
        {"[^a]", "a\nb", "2,3", ignore_case_multiline},
        {"[#48-#57]+", "ab12", "2,4"},
        {"[--/]+", "a-./", "1,4"},
        {"[a-z]+", "Hello", "1,5"},
        {"[a-z]+", "Hello", "0,5", option_ignore_case},
        {"[a-z]+", "Hello", "0,5", ignore_case_multiline},
        {"[^x]", "X", "none", option_ignore_case},
    });
}

TEST(Anchors, StartEndAndWords) {
    run_cases({
        {"^abc", "abc", "0,3"},
        {"%abc", "abc", "0,3"},
        {"^b", "a\nb", "none"},
        {"^b", "a\nb", "2,3", ignore_case_multiline},
        {"^b", "a\rb", "2,3", ignore_case_multiline},
        {"a$", "ab", "none"},
        {"a$", "ba", "1,2"},
        {"a$", "a\nb", "0,1", option_multiline},
        {"a$", "a\rb", "0,1", ignore_case_multiline},
        {"$", "abc", "none"},
        {"<abc>", "x abc y", "2,5"},
        {"<abc>", "xabc", "none"},
        {"<abc>", "abc_", "none"},
        {"<abc>", "abc", "0,3"},
        {"<xyz>", "a xyz b", "2,5"},  // the last letters of the alphabet are word characters too
        {"<XYZ9_>", "a XYZ9_ b", "2,7"},
        {"a>", "aZ az a9", "none"},
        {"<", "  a", "2,2"},
        {">", "ab ", "2,2"},
        {"<", "   ", "none"},
    });
}

TEST(Alternatives, TriedInOrderAndFullyBacktracked) {
    run_cases({
        {"a|ab", "ab", "0,1"},
        {"ab|a", "ab", "0,2"},
        {"(a|ab)c", "abc", "0,3"},
        {"(a|ab)*c", "abc", "2,3"},
        {"ab*|c", "xc", "1,2"},
        {"a|", "xa", "1,2"},
        {"x(?1:a|b)(c|d)e", "xbde", "0,4"},
    });
}

TEST(Repetition, NineVariants) {
    run_cases({
        {"a*a", "aaa", "0,3"},
        {"a*!a", "aaa", "none"},
        {"a*?", "aaa", "0,0"},
        {"a*?b", "aaab", "0,4"},
        {"a+a", "aaa", "0,3"},
        {"a+a", "a", "none"},
        {"a+!a", "aaa", "none"},
        {"a+!", "baa", "1,3"},
        {"a+?", "aaa", "0,1"},
        {"a+?b", "aaab", "0,4"},
        {"ba?", "ba", "0,2"},
        {"ba?a", "ba", "0,2"},
        {"ba?!a", "ba", "none"},
        {"ba?!a", "baa", "0,3"},
        {"ba??", "ba", "0,1"},
        {"ba??a", "baa", "0,2"},
        {"ba??c", "bac", "0,3"},
        // Each pass is matched once, by its first way: the group is never
        // re-entered to try `ab` once `a` has been taken.
        {"(a|ab)*c", "ababc", "4,5"},
        {"(a|ab)+c", "abc", "none"},
        {"(ab|a)*c", "abac", "0,4"},
        {"(a|ab)?c", "abc", "2,3"},
        {"(a|ab)??bc", "abc", "0,3"},
        {"(a|ab)*?c", "abc", "2,3"},
        {"(a|ab)*!b", "ab", "0,2"},
        // Greedy passes are given back one at a time.
        {"(ab)*ab", "ababab", "0,6"},
        {"(a|b)*b", "aabab", "0,5"},
        {"[ab]*b", "aabab", "0,5"},
        {"[ab]*?b", "aabab", "0,3"},
        {"(x[ab])*?xb", "xaxaxbxb", "0,6"},
        // Passes that consume nothing end the repetition.
        {"(a?)*b", "aab", "0,3"},
        {"(a?)*!b", "aab", "0,3"},
        {"(a?)*?b", "aab", "0,3"},
        {"(a?)+?b", "aab", "0,3"},
        {"(=a)*a", "a", "0,1"},
        {"(a*)*", "b", "0,0"},
        {"(a*)+c", "aac", "0,3"},
        {"(b?)+?c", "x", "none"},
        {"(b?)*?c", "x", "none"},
        {"\\n*x", "\r\n\n\rx", "0,5"},
    });
}

TEST(Repetition, LineBreakEscape) {
    run_cases({
        {"\\n", "\r\n", "0,2"},
        {"\\n", "a\n", "1,2"},
        {"\\n", "a\rb", "1,2"},
        {"\\n#10", "\r\n\n", "0,3"},
        {"\\n#10", "\r\n", "none"},
    });
}

TEST(LookAhead, PositiveAndNegative) {
    run_cases({
        {"=(abc)a", "xabc", "1,2"},
        {"=(abc)a", "xab", "none"},
        {"=abc", "abc", "none"},
        {"~a.", "ba", "0,1"},
        {"~a.", "aa", "none"},
        {"=(a|ab)c", "abc", "none"},  // the look-ahead's first way does not move
        {"(~b.)*b", "aab", "0,3"},
        {"=(a*)", "aaa", "0,0"},
        {"=(a*)!", "aaa", "error"},
    });
}

TEST(Comparisons, ModeAChoosesByOptions) {
    run_cases({
        {"abc", "xABC", "none", 0},
        {"abc", "xABC", "1,4", option_ignore_case},
        {"abc", "xABC", "1,4", ignore_case_multiline},
        {"ABC", "xabc", "1,4", option_locale | option_ignore_case},
        {"[A-C]+", "xabcd", "1,4", option_ignore_case},
        {"?i:abc", "xABC", "1,4", 0},
        {"(?i:a)b", "AB", "none", 0},
        {"(?i:a)b", "Ab", "0,2", 0},
        {"?i:a(?i-:b)c", "AbC", "0,3", 0},
        {"?i:a(?i-:b)c", "ABC", "none", 0},
        {"?n:abc", "ABC", "none", ignore_case_multiline},  // mode N is always exact
    });
}

TEST(Search, SkipsToPlausiblePositionsWithoutChangingResults) {
    // Long texts where the first character is rare or absent.
    std::string text(100000, 'x');
    text += "aDvErTiSeMeNt";
    EXPECT_EQ(span_of("advertisement", text, mode_a, ignore_case_multiline), "100000,100013");
    EXPECT_EQ(span_of("advertisement", text, mode_a, 0), "none");
    EXPECT_EQ(span_of("zz|advert", text, mode_a, option_ignore_case), "100000,100006");
    EXPECT_EQ(span_of("x*advert", text, mode_a, option_ignore_case), "0,100006");
    EXPECT_EQ(span_of("<ad", "aad ad", mode_a, 0), "4,6");
    // A capture reported by a look-ahead of a failed attempt stays.
    Regular_Expression re("~(?1:[a-z]+)\\d", mode_a, 0);
    Regular_Expression::Captures captures;
    EXPECT_EQ(re.find_with_captures("ab1", captures), 2);
    EXPECT_EQ(captures[1], "b");
}

TEST(Matching, LongTextsNeedNoDeepStack) {
    std::string line(1 << 20, 'a');
    line += "</div>";
    EXPECT_EQ(span_of("a.*?\\</div\\>", line, mode_a, ignore_case_multiline), "0," + std::to_string(line.size()));
    EXPECT_EQ(span_of("(a|b)*?\\<", line, mode_a, ignore_case_multiline), "0," + std::to_string(line.size() - 5));
    EXPECT_EQ(span_of("(a|b)*\\<", line, mode_a, 0), "0," + std::to_string(line.size() - 5));
}

// Everything the rule set does, on a thread with the 1 MiB stack that
// Windows gives a thread by default.
void* work_on_small_stack(void* result) {
    std::string line(1 << 20, 'a');
    line += "</div>";
    std::string& out = *static_cast<std::string*>(result);
    out = span_of("a.*?\\</div\\>", line, mode_a, ignore_case_multiline) + " " + span_of("(a|b)*\\<", line, mode_a, 0) +
          " " + span_of("(x|a)*?\\<", line, mode_a, 0) + " " + span_of("(?1:a)+!\\<", line, mode_a, 0) + " " +
          span_of(std::string(kelregexp::max_nesting, '(') + "a" + std::string(kelregexp::max_nesting, ')'), "a");
    return nullptr;
}

TEST(Matching, RunsOnAOneMebibyteStack) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 1 << 20), 0);
    pthread_t thread;
    std::string result;
    ASSERT_EQ(pthread_create(&thread, &attributes, work_on_small_stack, &result), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    std::string n = std::to_string((1 << 20) + 6), k = std::to_string((1 << 20) + 1);
    EXPECT_EQ(result, "0," + n + " 0," + k + " 0," + k + " 0," + k + " 0,1");
}

}  // namespace
