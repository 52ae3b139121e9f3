#include "win32/text.hpp"

#include <cstdint>
#include <optional>

namespace {

constexpr char32_t replacement = 0xFFFD;

// Decodes one well-formed sequence at `i`; returns its code point and moves `i`
// past it, or returns nothing and moves `i` past the longest ill-formed prefix.
std::optional<char32_t> decode(std::string_view s, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int length;
    char32_t cp;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) low = 0xA0;   // overlong
        if (b0 == 0xED) high = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0) low = 0x90;   // overlong
        if (b0 == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        ++i;
        return std::nullopt;
    }
    ++i;
    for (int k = 1; k < length; ++k) {
        if (i >= s.size()) return std::nullopt;
        unsigned char b = byte(i);
        unsigned char lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
        if (b < lo || b > hi) return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    return cp;
}

void append_wide(std::wstring& out, char32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(cp));
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

namespace win32 {

bool is_well_formed_utf8(std::string_view bytes) noexcept {
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        if (!decode(bytes, i)) return false;
    }
    return true;
}

bool append_utf8_to_wide_strict(std::string_view bytes, std::wstring& out) {
    const std::size_t mark = out.size();
    for (std::size_t i = 0; i < bytes.size();) {
        // Log lines are mostly ASCII: one byte, one character.
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            out.push_back(static_cast<wchar_t>(bytes[i++]));
            continue;
        }
        auto cp = decode(bytes, i);
        if (!cp) {
            out.resize(mark);
            return false;
        }
        append_wide(out, *cp);
    }
    return true;
}

std::wstring utf8_to_wide(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) append_wide(out, decode(bytes, i).value_or(replacement));
    return out;
}

std::string wide_to_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = static_cast<std::uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
                ++i;
            }
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = replacement;
        append_utf8(out, cp);
    }
    return out;
}

}  // namespace win32
