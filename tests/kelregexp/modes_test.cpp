#include <gtest/gtest.h>

#include <string>

#include "regexp_test_support.hpp"

namespace {

// Mode numbers.
constexpr int N = 0, A = 1, L = 2, U = 3, W = 4, S = 5, E = 6;

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
    EXPECT_EQ(span_of("[^a]", "\xE3\x81", U, 0x10), "0,2");
    EXPECT_EQ(span_of("a.b", "a" + hiragana_a + "b", U), "0,5");
    EXPECT_EQ(span_of("#$F0.", "\xF0\x9F\x98\x80", U), "0,2");  // 0xF0 counts as one byte
    // The search steps by characters: a trail byte is never a start.
    EXPECT_EQ(span_of("#$81", hiragana_a + "\x81", U), "3,4");
    // ASCII folding applies to one-byte characters only.
    EXPECT_EQ(span_of("ABC", "abc", U, 0x02), "0,3");
    EXPECT_EQ(span_of("[a-z]+", "X" + a_acute + "Y", U, 0x02), "0,1");
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
        EXPECT_EQ(span_of(".", utf16(u"a\n", big), mode, 0x10), "0,2");
        EXPECT_EQ(span_of("a.", utf16(u"a\n", big), mode, 0x10), "none");
        EXPECT_EQ(span_of("a.", utf16(u"a\u010A", big), mode, 0x10), "0,4");
        EXPECT_EQ(span_of("\\n", utf16(u"x\r\n", big), mode), "2,6");
        EXPECT_EQ(span_of("^b", utf16(u"a\nb", big), mode, 0x10), "4,6");
        EXPECT_EQ(span_of("a$", utf16(u"a\rb", big), mode, 0x10), "0,2");
        EXPECT_EQ(span_of("<ab>", utf16(u"x ab y", big), mode), "4,8");
        EXPECT_EQ(span_of("<ab>", utf16(u"xab", big), mode), "none");
        EXPECT_EQ(span_of("ABC", utf16(u"abc", big), mode, 0x02), "0,6");
        EXPECT_EQ(span_of("ABC", utf16(u"abc", big), mode, 0x12), "0,6");
        EXPECT_EQ(span_of("[a-c]+", utf16(u"xAbCd", big), mode, 0x02), "2,8");
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
    EXPECT_EQ(span_of("abc", "ABC", E, 0x02), "0,3");
    EXPECT_EQ(span_of("abc", "ABC", E, 0x12), "0,3");  // only the case bit counts
    EXPECT_EQ(span_of("abc", "ABC", E, 0x01), "none");
}

TEST(Modes, SingleByteModes) {
    EXPECT_EQ(span_of("abc", "xABC", N, 0x12), "none");
    EXPECT_EQ(span_of("\xE9", "x\xC9", A, 0x12), "1,2");   // e-acute, case ignored by the locale
    EXPECT_EQ(span_of("\xE9", "x\xC9", A, 0x02), "none");  // ASCII folding leaves it
    EXPECT_EQ(span_of("a", "xA", L, 0x12), "1,2");
    EXPECT_EQ(span_of("<ab>", "x ab y", L), "2,4");
    EXPECT_EQ(span_of("(?u:#$E38182)x", "\xE3\x81\x82x", A), "0,4");
}

}  // namespace
