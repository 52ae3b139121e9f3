#pragma once
// Small helpers shared by the engine's tests.

#include <string>
#include <string_view>

#include "kelregexp/regular_expression.hpp"

// Case ignored, and `.` and negated classes stop at line breaks: the options
// the rule set compiles its search patterns with.
constexpr int ignore_case_multiline = kelregexp::option_ignore_case | kelregexp::option_multiline;

// "start,end" of the leftmost match, "none", or "error" when the pattern does not compile.
inline std::string span_of(std::string_view pattern, std::string_view text, int mode = kelregexp::mode_a,
                           int options = 0) {
    try {
        kelregexp::Regular_Expression re(pattern, mode, options);
        std::ptrdiff_t s, e;
        if (!re.search(text, 0, s, e)) return "none";
        return std::to_string(s) + "," + std::to_string(e);
    } catch (const kelregexp::Regular_Expression_Error&) {
        return "error";
    }
}

inline bool compiles(std::string_view pattern, int mode = kelregexp::mode_a, int options = 0) {
    try {
        kelregexp::Regular_Expression re(pattern, mode, options);
        return true;
    } catch (const kelregexp::Regular_Expression_Error&) {
        return false;
    }
}

// UTF-16 text in either byte order, from ASCII-or-BMP code points.
inline std::string utf16(std::u16string_view text, bool big_endian = false) {
    std::string out;
    for (char16_t c : text) {
        char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        out += big_endian ? high : low;
        out += big_endian ? low : high;
    }
    return out;
}
