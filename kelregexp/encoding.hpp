#pragma once
// Encoding modes, options, character values and the three comparisons.

#include <cstdint>

#include "win32/windows.hpp"

namespace kelregexp {

// How the text is divided into characters.
enum Mode : int { mode_n = 0, mode_a = 1, mode_l = 2, mode_u = 3, mode_w = 4, mode_s = 5, mode_e = 6 };
constexpr int mode_count = 7;

constexpr int option_locale = 0x01;
constexpr int option_ignore_case = 0x02;
constexpr int option_ignore_kana = 0x04;
constexpr int option_ignore_width = 0x08;
constexpr int option_multiline = 0x10;

// One character: in the byte modes bytes 0-2 hold its bytes in text order and
// byte 3 its length; in the 16-bit modes the low 16 bits hold the unit.
using Char_Value = std::uint32_t;

inline int value_length(Char_Value v) { return static_cast<int>(v >> 24); }
inline unsigned value_byte(Char_Value v, int i) { return (v >> (8 * i)) & 0xFF; }

enum class Comparison : std::uint8_t { exact, ascii_fold, locale };

Comparison comparison_for(int mode, int options);
DWORD comparison_flags(int options);

// Negative, zero (equal) or positive.
int compare_chars(int mode, Comparison comparison, Char_Value text, Char_Value pattern, DWORD flags);

inline bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

inline bool is_sixteen_bit(int mode) { return mode == mode_w || mode == mode_s; }

// Length of the character whose first byte is at p (not limited to the text end).
inline int character_length(int mode, const unsigned char* p) {
    switch (mode) {
        case mode_l: return is_lead_byte(*p) ? 2 : 1;
        case mode_u: return *p >= 0xC0 && *p <= 0xDF ? 2 : (*p >= 0xE0 && *p <= 0xEF ? 3 : 1);
        case mode_w:
        case mode_s: return 2;
        case mode_e: return (*p == 0x8E || (*p >= 0xA1 && *p != 0xFF)) ? 2 : 1;
        default: return 1;
    }
}

// The 16-bit unit at p in the text's byte order (two bytes must remain).
inline unsigned read_unit(int mode, const unsigned char* p) {
    return mode == mode_s ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8);
}

// Reads the text character at p; 0 when it does not fit before the end.
inline int read_text_char(int mode, const unsigned char* p, const unsigned char* end, Char_Value& value) {
    if (p >= end) return 0;
    if (is_sixteen_bit(mode)) {
        if (end - p < 2) return 0;
        value = read_unit(mode, p);
        return 2;
    }
    int length = character_length(mode, p);
    if (end - p < length) return 0;
    value = static_cast<Char_Value>(length) << 24;
    for (int i = 0; i < length; ++i) value |= static_cast<Char_Value>(p[i]) << (8 * i);
    return length;
}

// A numeric character code (#65, \t, ...) as a character value of the mode.
Char_Value code_to_value(int mode, std::uint32_t code);

// The system's ANSI code page: one or two bytes to exactly one UTF-16 unit.
bool ansi_to_unit(const unsigned char* bytes, int length, unsigned& unit);

}  // namespace kelregexp
