#include "kelregexp/encoding.hpp"

namespace kelregexp {

namespace {

unsigned fold_ascii(unsigned c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

int exact(int mode, Char_Value text, Char_Value pattern) {
    if (is_sixteen_bit(mode)) return static_cast<int>(text & 0xFFFF) - static_cast<int>(pattern & 0xFFFF);
    int bytes = mode == mode_u ? 3 : (mode == mode_l || mode == mode_e) ? 2 : 1;
    for (int i = 0; i < bytes; ++i) {
        int d = static_cast<int>(value_byte(text, i)) - static_cast<int>(value_byte(pattern, i));
        if (d != 0) return d;
    }
    return 0;
}

// A UTF-8 character value of mode U as one UTF-16 unit.
wchar_t decode_utf8_value(Char_Value v) {
    switch (value_length(v)) {
        case 2: return static_cast<wchar_t>(((value_byte(v, 0) & 0x1F) << 6) | (value_byte(v, 1) & 0x3F));
        case 3:
            return static_cast<wchar_t>(((value_byte(v, 0) & 0x0F) << 12) | ((value_byte(v, 1) & 0x3F) << 6) |
                                        (value_byte(v, 2) & 0x3F));
        default: return static_cast<wchar_t>(value_byte(v, 0));
    }
}

int locale(int mode, Char_Value text, Char_Value pattern, DWORD flags) {
    switch (mode) {
        case mode_a: {
            char t = static_cast<char>(value_byte(text, 0));
            char p = static_cast<char>(value_byte(pattern, 0));
            return CompareStringA(0x0409, flags, &t, 1, &p, 1) - 2;
        }
        case mode_l: {
            char t[3], p[3];
            int tl = value_length(text), pl = value_length(pattern);
            for (int i = 0; i < 3; ++i) {
                t[i] = static_cast<char>(value_byte(text, i));
                p[i] = static_cast<char>(value_byte(pattern, i));
            }
            return CompareStringA(LOCALE_USER_DEFAULT, flags, t, tl, p, pl) - 2;
        }
        case mode_u: {
            wchar_t t = decode_utf8_value(text), p = decode_utf8_value(pattern);
            return CompareStringW(LOCALE_USER_DEFAULT, flags, &t, 1, &p, 1) - 2;
        }
        default: {
            wchar_t t = static_cast<wchar_t>(text & 0xFFFF), p = static_cast<wchar_t>(pattern & 0xFFFF);
            return CompareStringW(LOCALE_USER_DEFAULT, flags, &t, 1, &p, 1) - 2;
        }
    }
}

}  // namespace

Comparison comparison_for(int mode, int options) {
    if (mode == mode_n) return Comparison::exact;
    if (mode == mode_e) return options & option_ignore_case ? Comparison::ascii_fold : Comparison::exact;
    if (options == 0) return Comparison::exact;
    if (options == option_ignore_case) return Comparison::ascii_fold;
    return Comparison::locale;
}

DWORD comparison_flags(int options) {
    DWORD flags = 0;
    if (options & option_ignore_case) flags |= NORM_IGNORECASE;
    if (options & option_ignore_kana) flags |= NORM_IGNOREKANATYPE;
    if (options & option_ignore_width) flags |= NORM_IGNOREWIDTH;
    return flags;
}

int compare_chars(int mode, Comparison comparison, Char_Value text, Char_Value pattern, DWORD flags) {
    switch (comparison) {
        case Comparison::exact: return exact(mode, text, pattern);
        case Comparison::ascii_fold:
            if (is_sixteen_bit(mode))
                return static_cast<int>(fold_ascii(text & 0xFFFF)) - static_cast<int>(fold_ascii(pattern & 0xFFFF));
            // A multi-byte text character is compared exactly.
            if (mode != mode_a && value_length(text) > 1) return exact(mode, text, pattern);
            return static_cast<int>(fold_ascii(value_byte(text, 0))) -
                   static_cast<int>(fold_ascii(value_byte(pattern, 0)));
        case Comparison::locale: return locale(mode, text, pattern, flags);
    }
    return 1;
}

Char_Value code_to_value(int mode, std::uint32_t code) {
    switch (mode) {
        case mode_n:
        case mode_a: return (code & 0xFF) | (1u << 24);
        case mode_w:
        case mode_s: return code & 0xFFFF;
        default:
            if (code >= 0x10000)
                return ((code >> 16) & 0xFF) | (((code >> 8) & 0xFF) << 8) | ((code & 0xFF) << 16) | (3u << 24);
            if (code >= 0x100) return ((code >> 8) & 0xFF) | ((code & 0xFF) << 8) | (2u << 24);
            return code | (1u << 24);
    }
}

bool ansi_to_unit(const unsigned char* bytes, int length, unsigned& unit) {
    wchar_t wide[4];
    int n = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes), length, wide, 4);
    if (n != 1) return false;
    auto value = static_cast<std::uint32_t>(wide[0]);
    unit = value & 0xFFFF;
    return unit == value;
}

}  // namespace kelregexp
