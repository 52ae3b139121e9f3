#include <gtest/gtest.h>

#include <string>

#include "regexp_test_support.hpp"

namespace {

TEST(Compile, FailuresRaiseTheErrorWithItsMessage) {
    const char* bad[] = {
        "|a",   "(|a)", "a||b", "()",  "(?i)", "(?i:)", "(a",  "a)",  ")",   "]",    "-",      "!",
        "~",    "=",    "a=",   "=",   "~)",   "=*",    "==a", "=~a", "=a*", "a**",  "a*??",   "a+!?",
        "a?!*", "*",    "+a",   "?",   "a|?b", "#",     "#$",  "#$g", "a#",  "\\",   "ab\\",   "[",
        "[]",   "[a",   "[a-]", "[a-", "[^]",  "[^",    "(?x", "?i",  "?1",  "?i;a", "(?$:a)", "(?1a:b)",
    };
    for (const char* pattern : bad) EXPECT_FALSE(compiles(pattern)) << pattern;
    EXPECT_FALSE(compiles(std::string("a\0b", 3)));
    try {
        Regular_Expression re("(", 1, 0);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), "Failed to Compile Regular Expression.");
        EXPECT_STREQ(e.type_name(), "Regular_Expression_Error");
    }
}

TEST(Compile, AcceptedForms) {
    const char* good[] = {
        "",
        "?1:",
        "?i:",
        "a|",
        "(a|)",
        "(=a)*",
        "[]a]",
        "[]]",
        "[\\]",
        "[^]]",
        "[~a]",
        "[a-z0-9_]",
        "[--/]",
        "\\n*",
        "\\D",
        "#65#$41",
        "\\!\\=\\~\\-\\]",
        "(?1:x)(?$1F:y)",
        "?ium-i+:a",
        "(?um-:a)",
        "(?NALUWSEmbkix:a)",
        "a*!b+?c??d?!",
        "<a>",
        "%a$",
        "(?4294967295:a)",
        "#99999999999999999999",
    };
    for (const char* pattern : good) EXPECT_TRUE(compiles(pattern)) << pattern;
    EXPECT_FALSE(compiles("a", 7, 0)) << "no such mode";
}

TEST(Compile, NestingIsBoundedInsteadOfOverflowingTheStack) {
    auto nested = [](int depth) { return std::string(depth, '(') + "a" + std::string(depth, ')'); };
    EXPECT_TRUE(compiles(nested(kelregexp::max_nesting)));
    EXPECT_FALSE(compiles(nested(kelregexp::max_nesting + 1)));
    EXPECT_FALSE(compiles(nested(100000)));
    // Long flat patterns compile without recursion per item.
    std::string flat;
    for (int i = 0; i < 200000; ++i) flat += "a?";
    EXPECT_TRUE(compiles(flat));
    std::string looks;
    for (int i = 0; i < 100000; ++i) looks += "=a";
    EXPECT_TRUE(compiles(looks));
}

TEST(Compile, HeaderAtPatternStartSetsModeAndOptions) {
    struct Case {
        const char* pattern;
        int mode, options, want_mode, want_options;
    } cases[] = {
        {"abc", 1, 0x12, 1, 0x12},  {"?w:a", 1, 0, 4, 0},  {"?iu:a", 0, 0, 3, 2},
        {"?m-i-:a", 1, 0x12, 1, 0}, {"?AN:a", 3, 0, 0, 0}, {"?x+b:a", 1, 0, 1, 9},
        {"(?w:a)", 1, 0, 1, 0},     {"?1:a", 2, 4, 2, 4},  {"?ek:a", 1, 0x10, 6, 0x14},
    };
    for (const auto& c : cases) {
        Regular_Expression re(c.pattern, c.mode, c.options);
        EXPECT_EQ(re.encoding_mode(), c.want_mode) << c.pattern;
        EXPECT_EQ(re.options(), c.want_options) << c.pattern;
    }
}

}  // namespace
