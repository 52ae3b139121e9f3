#include <gtest/gtest.h>

#include <string>

#include "regexp_test_support.hpp"

using kelregexp::option_ignore_case;
using kelregexp::option_locale;
using kelregexp::option_multiline;

namespace {

// Short names for the modes, as the option header spells them.
constexpr int N = kelregexp::mode_n, A = kelregexp::mode_a, L = kelregexp::mode_l, U = kelregexp::mode_u,
              W = kelregexp::mode_w, S = kelregexp::mode_s, E = kelregexp::mode_e;

TEST(Modes, Utf8) {
    const std::string a_acute = "\xC3\xA1", hiragana_a = "\xE3\x81\x82";
    EXPECT_EQ(span_of("#$E38182", "x" + hiragana_a, U), "1,4");
    EXPECT_EQ(span_of("#$E38182", "x\xE3\x81", U), "none");  // the character does not fit
    EXPECT_EQ(span_of("#$C3A1", a_acute, U), "0,2");
    // Pattern bytes are ANSI (1252): 0xE1 is a-acute, matched as its UTF-8 form.
    EXPECT_EQ(span_of("\xE1", "x" + a_acute, U), "1,3");
    EXPECT_EQ(span_of("\x80", "\xE2\x82\xAC", U), "0,3");  // the euro sign
    EXPECT_EQ(span_of(".", hiragana_a, U), "0,3");
    EXPECT_EQ(span_of(".", "\xE3\x81", U), "0,2");  // a truncated character runs to the end
    EXPECT_EQ(span_of("[^a]", "\xE3\x81", U), "0,2");
    EXPECT_EQ(span_of("[^a]", "\xE3\x81", U, option_multiline), "0,2");
    EXPECT_EQ(span_of("a.b", "a" + hiragana_a + "b", U), "0,5");
    EXPECT_EQ(span_of("#$F0.", "\xF0\x9F\x98\x80", U), "0,2");  // 0xF0 counts as one byte
    // The search steps by characters: a trail byte is never a start.
    EXPECT_EQ(span_of("#$81", hiragana_a + "\x81", U), "3,4");
    // ASCII folding applies to one-byte characters only.
    EXPECT_EQ(span_of("ABC", "abc", U, option_ignore_case), "0,3");
    EXPECT_EQ(span_of("[a-z]+", "X" + a_acute + "Y", U, option_ignore_case), "0,1");
}

TEST(Modes, Utf16BothByteOrders) {
    for (bool big : {false, true}) {
        int mode = big ? S : W;
        EXPECT_EQ(span_of("b", utf16(u"ab", big), mode), "2,4");
        EXPECT_EQ(span_of("#$3042", utf16(u"x\u3042", big), mode), "2,4");
        EXPECT_EQ(span_of("\xE1", utf16(u"x\u00E1", big), mode), "2,4");
        EXPECT_EQ(span_of("\x80", utf16(u"\u20AC", big), mode), "0,2");
        EXPECT_EQ(span_of("b", utf16(u"ab", big) + "b", mode), "2,4");
        EXPECT_EQ(span_of(".", utf16(u"a", big).substr(0, 1), mode), "none");
        EXPECT_EQ(span_of(".", utf16(u"a\n", big), mode, option_multiline), "0,2");
        EXPECT_EQ(span_of("a.", utf16(u"a\n", big), mode, option_multiline), "none");
        EXPECT_EQ(span_of("a.", utf16(u"a\u010A", big), mode, option_multiline), "0,4");
        EXPECT_EQ(span_of("\\n", utf16(u"x\r\n", big), mode), "2,6");
        EXPECT_EQ(span_of("^b", utf16(u"a\nb", big), mode, option_multiline), "4,6");
        EXPECT_EQ(span_of("a$", utf16(u"a\rb", big), mode, option_multiline), "0,2");
        EXPECT_EQ(span_of("<ab>", utf16(u"x ab y", big), mode), "4,8");
        EXPECT_EQ(span_of("<ab>", utf16(u"xab", big), mode), "none");
        EXPECT_EQ(span_of("ABC", utf16(u"abc", big), mode, option_ignore_case), "0,6");
        EXPECT_EQ(span_of("ABC", utf16(u"abc", big), mode, ignore_case_multiline), "0,6");
        EXPECT_EQ(span_of("[a-c]+", utf16(u"xAbCd", big), mode, option_ignore_case), "2,8");
    }
    // A header switches the whole search to two-byte steps.
    EXPECT_EQ(span_of("?w:#$6100", std::string("x\x00\x61", 3), A), "none");
    EXPECT_EQ(span_of("?w:#$6100", std::string("xx\x00\x61", 4), A), "2,4");
}

TEST(Modes, EucJp) {
    EXPECT_EQ(span_of("#$A4A2", "x\xA4\xA2", E), "1,3");
    EXPECT_EQ(span_of("#$A2", "\xA4\xA2", E), "none");  // the trail byte is never a start
    EXPECT_EQ(span_of(".", "\x8E\xB1", E), "0,2");
    EXPECT_EQ(span_of(".x", "\x8Fx", E), "0,2");
    EXPECT_EQ(span_of("abc", "ABC", E, option_ignore_case), "0,3");
    EXPECT_EQ(span_of("abc", "ABC", E, ignore_case_multiline), "0,3");  // only the case bit counts
    EXPECT_EQ(span_of("abc", "ABC", E, option_locale), "none");
}

TEST(Modes, SingleByteModes) {
    EXPECT_EQ(span_of("abc", "xABC", N, ignore_case_multiline), "none");
    EXPECT_EQ(span_of("\xE9", "x\xC9", A, ignore_case_multiline), "1,2");  // e-acute, case ignored by the locale
    EXPECT_EQ(span_of("\xE9", "x\xC9", A, option_ignore_case), "none");    // ASCII folding leaves it
    EXPECT_EQ(span_of("a", "xA", L, ignore_case_multiline), "1,2");
    EXPECT_EQ(span_of("<ab>", "x ab y", L), "2,4");
    EXPECT_EQ(span_of("(?u:#$E38182)x", "\xE3\x81\x82x", A), "0,4");
}

}  // namespace
