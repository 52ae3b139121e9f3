// The code-page and comparison calls the engine relies on: the system's on
// Windows, ours elsewhere. Both must answer alike for these.
#include <gtest/gtest.h>

#include "win32/windows.hpp"

namespace {

int compare_a(DWORD flags, const char* a, const char* b) { return CompareStringA(0x0409, flags, a, -1, b, -1); }
int compare_w(DWORD flags, const wchar_t* a, const wchar_t* b) {
    return CompareStringW(LOCALE_USER_DEFAULT, flags, a, -1, b, -1);
}

TEST(Code_Page, AnsiIsSingleByte) {
    for (int b = 0; b < 256; ++b) EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(b))) << b;
    wchar_t wide[4] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80\xE9", 2, wide, 4), 2);
    EXPECT_EQ(wide[0], 0x20AC);
    EXPECT_EQ(wide[1], 0xE9);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);
}

TEST(Comparison, CaseAndOrder) {
    EXPECT_EQ(compare_a(0, "a", "a"), CSTR_EQUAL);
    EXPECT_NE(compare_a(0, "a", "A"), CSTR_EQUAL);
    EXPECT_EQ(compare_a(NORM_IGNORECASE, "a", "A"), CSTR_EQUAL);
    EXPECT_EQ(compare_a(NORM_IGNORECASE, "\xE9", "\xC9"), CSTR_EQUAL);
    EXPECT_NE(compare_a(NORM_IGNORECASE, "e", "\xE9"), CSTR_EQUAL);
    EXPECT_EQ(compare_a(0, "a", "b"), CSTR_LESS_THAN);
    EXPECT_EQ(compare_a(0, "B", "a"), CSTR_GREATER_THAN);
    EXPECT_EQ(compare_a(0, "a", "B"), CSTR_LESS_THAN);  // collation order, not byte order
    EXPECT_EQ(compare_w(NORM_IGNORECASE, L"x", L"X"), CSTR_EQUAL);
}

TEST(Comparison, KanaAndWidth) {
    EXPECT_NE(compare_w(0, L"\u30A2", L"\u3042"), CSTR_EQUAL);
    EXPECT_EQ(compare_w(NORM_IGNOREKANATYPE, L"\u30A2", L"\u3042"), CSTR_EQUAL);
    EXPECT_NE(compare_w(0, L"\uFF21", L"A"), CSTR_EQUAL);
    EXPECT_EQ(compare_w(NORM_IGNOREWIDTH, L"\uFF21", L"A"), CSTR_EQUAL);
    EXPECT_EQ(compare_w(NORM_IGNOREWIDTH | NORM_IGNORECASE, L"\uFF41", L"A"), CSTR_EQUAL);
    EXPECT_EQ(compare_w(NORM_IGNOREWIDTH, L"\uFF71", L"\u30A2"), CSTR_EQUAL);
}

}  // namespace
