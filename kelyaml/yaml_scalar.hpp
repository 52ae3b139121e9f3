#pragma once
// Conversions of scalar values to numbers, booleans and characters, and back.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelyaml {

// Leading white space, an optional sign, decimal digits up to the first
// non-digit; wraps modulo 2^32 with no overflow check; no digits gives 0.
std::uint32_t yaml_decimal(std::string_view value) noexcept;

// Like yaml_decimal, but "0x"/"0X" selects base 16, "0b"/"0B" base 2 and a
// leading "0" base 8. Computed in 64 bits and clamped to the signed 64-bit
// range on overflow; the low 32 bits are the result.
std::uint32_t yaml_based(std::string_view value) noexcept;

// False for an empty value, "false", "no" and "0"; true for anything else.
bool yaml_bool(std::string_view value) noexcept;

// The first code point of a UTF-8 value; none when the value is empty or does
// not start with a well-formed sequence (overlong forms and surrogates included).
std::optional<char32_t> yaml_first_code_point(std::string_view value) noexcept;

// The UTF-8 form of a code point; empty for a surrogate or a value above U+10FFFF.
std::string yaml_utf8(char32_t code_point);

}  // namespace kelyaml
