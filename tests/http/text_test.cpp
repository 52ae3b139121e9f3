#include "http/text.hpp"

#include <gtest/gtest.h>

#include "base/exception.hpp"

TEST(Parse_Decimal, DigitsOnlyWrappingIn32Bits) {
    const std::tuple<std::string_view, std::int32_t, std::string_view> cases[] = {
        {"123abc", 123, "abc"},        {" 12", 0, " 12"},       {"", 0, ""}, {"4294967297", 1, ""}, {"-5", 0, "-5"},
        {"2147483648", INT32_MIN, ""}, {"0042\r\n", 42, "\r\n"}};
    for (auto [text, value, rest] : cases) {
        EXPECT_EQ(http::parse_decimal(text), value) << value;
        EXPECT_EQ(text, rest);
    }
}

TEST(Split_Url, HostPortAndPath) {
    const std::tuple<std::string_view, std::string_view, sockets::Port, std::string_view> cases[] = {
        {"http://H:8080/x?y=1", "H", 8080, "/x?y=1"},
        {"http://H", "H", 80, "/"},
        {"/abc/def", "", 80, "/abc/def"},
        {"example.org/a", "example.org", 80, "/a"},
        {"http://h:/p", "h", 0, "/p"},
        {"http://h:65616/p", "h", 80, "/p"},
        {"http://h:81ab/p", "h", 81, "/p"},
        {"http://h?q=a/b", "h?q=a", 80, "/b"},
        {"HTTP://h/p", "HTTP", 0, "//h/p"},
        {"h:80/xy", "h", 80, "/xy"}};
    for (const auto& [url, host, port, path] : cases) {
        const http::Url_Parts parts = http::split_url(url);
        EXPECT_EQ(std::tie(parts.host, parts.port, parts.path), std::tie(host, port, path)) << url;
    }
    // Shorter than seven bytes.
    for (std::string_view url : {"", "http:/", "h:80/x"}) EXPECT_THROW(http::split_url(url), base::Exception) << url;
}
