#pragma once
// The ANSI code page and locale comparison calls, as the program uses them.
// The ANSI code page here is Windows-1252 (no lead bytes); comparison goes
// through an ICU collator.

#include "win32/posix/windef.hpp"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_1252 = 1252;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

constexpr DWORD NORM_IGNORECASE = 0x00000001;
constexpr DWORD NORM_IGNOREKANATYPE = 0x00010000;
constexpr DWORD NORM_IGNOREWIDTH = 0x00020000;

constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

// Always false: Windows-1252 has no lead bytes.
BOOL IsDBCSLeadByte(BYTE test_char);

// Only CP_ACP (and 1252 by number). A length of -1 takes the text up to and
// including its NUL. With an output size of 0 it returns the size needed;
// 0 means failure (unknown code page, buffer too small).
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR wide, int wide_size);

// CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN, or 0 on failure. Locale
// 0x0409 is en_US; the user and system defaults are ICU's default locale.
int CompareStringA(LCID locale, DWORD flags, LPCSTR text1, int length1, LPCSTR text2, int length2);
int CompareStringW(LCID locale, DWORD flags, LPCWSTR text1, int length1, LPCWSTR text2, int length2);
