#include "kelyaml/yaml_scalar.hpp"

#include <cstddef>
#include <limits>

namespace kelyaml {

namespace {

bool is_white(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Skips leading white space and a sign; true when the sign was "-".
bool skip_white_and_sign(std::string_view value, std::size_t& pos) noexcept {
    while (pos < value.size() && is_white(value[pos])) ++pos;
    if (pos < value.size() && (value[pos] == '+' || value[pos] == '-')) return value[pos++] == '-';
    return false;
}

int digit_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

}  // namespace

std::uint32_t yaml_decimal(std::string_view value) noexcept {
    std::size_t pos = 0;
    const bool negative = skip_white_and_sign(value, pos);
    std::uint32_t result = 0;
    for (; pos < value.size() && value[pos] >= '0' && value[pos] <= '9'; ++pos)
        result = result * 10u + static_cast<std::uint32_t>(value[pos] - '0');
    return negative ? 0u - result : result;
}

std::uint32_t yaml_based(std::string_view value) noexcept {
    std::size_t pos = 0;
    const bool negative = skip_white_and_sign(value, pos);
    unsigned base = 10;
    if (pos < value.size() && value[pos] == '0') {
        const char marker = pos + 1 < value.size() ? value[pos + 1] : '\0';
        if (marker == 'x' || marker == 'X') {
            base = 16;
            pos += 2;
        } else if (marker == 'b' || marker == 'B') {
            base = 2;
            pos += 2;
        } else {
            base = 8;
        }
    }
    // The magnitude may reach 2^63 only for a negative number.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (; pos < value.size(); ++pos) {
        const unsigned digit = static_cast<unsigned>(digit_value(value[pos]));
        if (digit >= base) break;
        if (overflow) continue;
        if (magnitude > (limit - digit) / base) {
            overflow = true;
            magnitude = limit;
        } else {
            magnitude = magnitude * base + digit;
        }
    }
    const std::uint64_t result = negative ? 0u - magnitude : magnitude;
    return static_cast<std::uint32_t>(result);
}

bool yaml_bool(std::string_view value) noexcept {
    return !(value.empty() || value == "false" || value == "no" || value == "0");
}

std::optional<char32_t> yaml_first_code_point(std::string_view value) noexcept {
    if (value.empty()) return std::nullopt;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(value[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return char32_t{lead};
    std::size_t length;
    char32_t code;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1Fu, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0Fu, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07u, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (value.size() < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return std::nullopt;
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
    return code;
}

std::string yaml_utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        if (c >= 0xD800 && c <= 0xDFFF) return out;
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c <= 0x10FFFF) {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

}  // namespace kelyaml
