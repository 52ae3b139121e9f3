#include <gtest/gtest.h>

#include <string>

#include "kelyaml/yaml_scalar.hpp"

using kelyaml::yaml_based;
using kelyaml::yaml_bool;
using kelyaml::yaml_decimal;
using kelyaml::yaml_first_code_point;
using kelyaml::yaml_utf8;

TEST(YamlScalar, Decimal) {
    const struct {
        std::string text;
        std::int32_t value;
    } cases[] = {
        {"12abc", 12},
        {"-7", -7},
        {"abc", 0},
        {"", 0},
        {"+42", 42},
        {" \t\n\v\f\r 5", 5},
        {"- 5", 0},
        {"--5", 0},
        {"0x10", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"2147483648", -2147483647 - 1},
        {"4294967297", 1},  // wraps modulo 2^32
        {"-2147483648", -2147483647 - 1},
        {std::string("3\0004", 3), 3},  // a NUL byte ends the digits
    };
    for (const auto& c : cases) EXPECT_EQ(static_cast<std::int32_t>(yaml_decimal(c.text)), c.value) << c.text;
    EXPECT_EQ(static_cast<std::uint8_t>(yaml_decimal("300")), 44);
    EXPECT_EQ(static_cast<std::uint8_t>(yaml_decimal("-1")), 255);
}

TEST(YamlScalar, BaseDetection) {
    const struct {
        const char* text;
        std::uint32_t value;
    } cases[] = {
        {"0x1F", 31},
        {"0X1f", 31},
        {"010", 8},
        {"0b101", 5},
        {"0B11", 3},
        {"-1", 4294967295u},
        {"  +12z", 12},
        {"09", 0},     // octal stops at 9
        {"0b102", 2},  // binary stops at 2
        {"0x", 0},
        {"0xg", 0},
        {"0", 0},
        {"abc", 0},
        {"4294967296", 0},
        {"0x123456789", 0x23456789},            // low 32 bits
        {"99999999999999999999", 0xFFFFFFFFu},  // clamped to 2^63 - 1
        {"-99999999999999999999", 0},           // clamped to -2^63
        {"9223372036854775807", 0xFFFFFFFFu},
        {"-9223372036854775808", 0},
        {"-9223372036854775807", 1},
        {"0x7fffffffffffffffff", 0xFFFFFFFFu},
        {"1z", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(yaml_based(c.text), c.value) << c.text;
}

TEST(YamlScalar, Boolean) {
    for (const char* text : {"", "false", "no", "0"}) EXPECT_FALSE(yaml_bool(text)) << text;
    for (const char* text : {"False", "NO", "off", "00", "true", " 0", "no "}) EXPECT_TRUE(yaml_bool(text)) << text;
}

TEST(YamlScalar, Utf8FirstCodePointAndBack) {
    const struct {
        std::string text;
        char32_t code;  // 0xFFFFFFFF: none
    } cases[] = {
        {"A", U'A'},
        {"\xC3\xBCx", 0xFC},
        {"\xE3\x81\x82", 0x3042},
        {"\xF0\x9F\x98\x80", 0x1F600},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF},
        {std::string("\0", 1), 0},
        {"", 0xFFFFFFFF},
        {"\x80", 0xFFFFFFFF},              // continuation byte first
        {"\xC3", 0xFFFFFFFF},              // cut short
        {"\xC3(", 0xFFFFFFFF},             // bad continuation
        {"\xC1\x81", 0xFFFFFFFF},          // overlong
        {"\xE0\x80\x80", 0xFFFFFFFF},      // overlong
        {"\xED\xA0\x80", 0xFFFFFFFF},      // surrogate
        {"\xF4\x90\x80\x80", 0xFFFFFFFF},  // above U+10FFFF
        {"\xFF", 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        const auto code = yaml_first_code_point(c.text);
        EXPECT_EQ(code.value_or(0xFFFFFFFF), c.code) << c.text;
        if (code) {
            EXPECT_EQ(yaml_utf8(*code), c.text.substr(0, yaml_utf8(*code).size()));
        }
    }
    EXPECT_EQ(yaml_utf8(0xD800), "");
    EXPECT_EQ(yaml_utf8(0x110000), "");
}
