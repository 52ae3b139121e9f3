#include <gtest/gtest.h>

#include <string>

#include "regexp_test_support.hpp"

using kelregexp::mode_a;
using kelregexp::mode_e;
using kelregexp::mode_l;
using kelregexp::mode_n;
using kelregexp::mode_u;
using kelregexp::mode_w;
using kelregexp::option_ignore_case;
using kelregexp::option_ignore_kana;
using kelregexp::option_ignore_width;
using kelregexp::option_locale;
using kelregexp::option_multiline;
using kelregexp::Regular_Expression;
using kelregexp::Regular_Expression_Error;

namespace {

// Every class of compile error, with the byte offset and the reason the
// error carries beside its fixed message.
TEST(Compile, ErrorsSayWhereAndWhy) {
    struct Case {
        std::string pattern;
        std::size_t position;
        const char* reason;
    } cases[] = {
        {"|a", 0, "empty alternative"},
        {"(|a)", 1, "empty alternative"},
        {"a||b", 2, "empty alternative"},
        {"()", 0, "empty group"},
        {"x(?i:)", 1, "empty group"},
        {"(a", 0, "group not closed"},
        {"ab(cd(ef)", 2, "group not closed"},
        {"\\<title\\>(?1:.*?\\</title\\>", 9, "group not closed"},
        {"a)", 1, "unmatched )"},
        {")", 0, "unmatched )"},
        {"]", 0, "unescaped ]"},
        {"a-", 1, "unescaped -"},
        {"a*!!", 3, "unescaped !"},
        {std::string("a\0b", 3), 1, "NUL byte (write \\0)"},
        {"=", 0, "look-ahead without an item"},
        {"a~)", 1, "look-ahead without an item"},
        {"=*", 0, "look-ahead without an item"},
        {"==a", 1, "look-ahead directly after a look-ahead"},
        {"=~a", 1, "look-ahead directly after a look-ahead"},
        {"=a*", 2, "quantifier after a look-ahead"},
        {"a**", 2, "second quantifier"},
        {"a*??", 3, "second quantifier"},
        {"(a?!*)", 4, "second quantifier"},
        {"*", 0, "quantifier without an item before it"},
        {"a|?b", 2, "quantifier without an item before it"},
        {"(+a)", 1, "quantifier without an item before it"},
        {"a#", 1, "# without a number"},
        {"[#x]", 1, "# without a number"},
        {"#$g", 1, "$ without hexadecimal digits"},
        {"(?$:a)", 2, "$ without hexadecimal digits"},
        {"ab\\", 2, "\\ at the end of the pattern"},
        {"[", 0, "class not closed"},
        {"a[]", 1, "class not closed"},
        {"[a-]", 0, "class not closed"},
        {"[a-", 0, "class not closed"},
        {"[^]", 0, "class not closed"},
        {"?", 1, "option header not ended by :"},
        {"(?i)", 3, "option header not ended by :"},
        {"?i;a", 2, "option header not ended by :"},
        {"(?1a:b)", 3, "option header not ended by :"},
        {std::string(kelregexp::max_nesting + 1, '(') + "a" + std::string(kelregexp::max_nesting + 1, ')'),
         kelregexp::max_nesting, "groups nested too deeply"},
    };
    for (const auto& c : cases) {
        try {
            Regular_Expression re(c.pattern, mode_a, ignore_case_multiline);
            ADD_FAILURE() << c.pattern << " compiles";
        } catch (const Regular_Expression_Error& e) {
            EXPECT_EQ(e.message(), "Failed to Compile Regular Expression.") << c.pattern;
            EXPECT_STREQ(e.type_name(), "Regular_Expression_Error");
            EXPECT_EQ(e.position(), c.position) << c.pattern;
            EXPECT_EQ(e.reason(), c.reason) << c.pattern;
        }
    }
    try {
        Regular_Expression re("a", kelregexp::mode_count, 0);
        ADD_FAILURE() << "an unknown mode accepted";
    } catch (const Regular_Expression_Error& e) {
        EXPECT_EQ(e.reason(), "no such encoding mode");
    }
}

// Patterns the compiler rejects (and must go on rejecting), whatever the reason.
TEST(Compile, Failures) {
    const char* bad[] = {
        "|a", "(|a)", "a||b", "()",   "(?i)", "(?i:)", "(a",  "a)",  ")",    "]",      "-",       "!",
        "~",  "=",    "a=",   "~)",   "=*",   "==a",   "=~a", "=a*", "a**",  "a*??",   "a+!?",    "a?!*",
        "*",  "+a",   "?",    "a|?b", "#",    "#$",    "#$g", "a#",  "\\",   "ab\\",   "[",       "[]",
        "[a", "[a-]", "[a-",  "[^]",  "[^",   "(?x",   "?i",  "?1",  "?i;a", "(?$:a)", "(?1a:b)",
    };
    for (const char* pattern : bad) EXPECT_FALSE(compiles(pattern)) << pattern;
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
    EXPECT_FALSE(compiles("a", kelregexp::mode_count, 0)) << "no such mode";
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
        {"abc", mode_a, ignore_case_multiline, mode_a, ignore_case_multiline},
        {"?w:a", mode_a, 0, mode_w, 0},
        {"?iu:a", mode_n, 0, mode_u, option_ignore_case},
        {"?m-i-:a", mode_a, ignore_case_multiline, mode_a, 0},
        {"?AN:a", mode_u, 0, mode_n, 0},
        {"?x+b:a", mode_a, 0, mode_a, option_locale | option_ignore_width},
        {"(?w:a)", mode_a, 0, mode_a, 0},
        {"?1:a", mode_l, option_ignore_kana, mode_l, option_ignore_kana},
        {"?ek:a", mode_a, option_multiline, mode_e, option_ignore_kana | option_multiline},
    };
    for (const auto& c : cases) {
        Regular_Expression re(c.pattern, c.mode, c.options);
        EXPECT_EQ(re.encoding_mode(), c.want_mode) << c.pattern;
        EXPECT_EQ(re.options(), c.want_options) << c.pattern;
    }
}

}  // namespace
