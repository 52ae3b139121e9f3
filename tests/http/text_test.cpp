#include "http/text.hpp"

#include <gtest/gtest.h>

#include "base/exception.hpp"

using base::Exception;

using http::parse_decimal;
using http::split_url;
using http::Url_Parts;
using sockets::Port;

TEST(Parse_Decimal, DigitsOnlyWrappingIn32Bits) {
    struct Case {
        std::string_view text;
        std::int32_t value;
        std::string_view rest;
    };
    const Case cases[] = {
        {"123abc", 123, "abc"},
        {" 12", 0, " 12"},
        {"", 0, ""},
        {"4294967297", 1, ""},
        {"-5", 0, "-5"},
        {"2147483648", INT32_MIN, ""},
        {"0042\r\n", 42, "\r\n"},
        {"99999999999", 1215752191, ""},
    };
    for (const auto& c : cases) {
        std::string_view text = c.text;
        EXPECT_EQ(parse_decimal(text), c.value) << c.text;
        EXPECT_EQ(text, c.rest) << c.text;
    }
}

TEST(Split_Url, HostPortAndPath) {
    struct Case {
        std::string_view url, host;
        Port port;
        std::string_view path;
    };
    const Case cases[] = {
        {"http://H:8080/x?y=1", "H", 8080, "/x?y=1"},
        {"http://H", "H", 80, "/"},
        {"/abc/def", "", 80, "/abc/def"},
        {"example.org/a", "example.org", 80, "/a"},
        {"http://h:/p", "h", 0, "/p"},
        {"http://h:65616/p", "h", 80, "/p"},
        {"http://h:81ab/p", "h", 81, "/p"},
        {"http://h?q=a/b", "h?q=a", 80, "/b"},
        {"http://user:pw@h/p", "user", 0, "/p"},
        {"HTTP://h/p", "HTTP", 0, "//h/p"},
        {"http://", "", 80, "/"},
    };
    for (const auto& c : cases) {
        const Url_Parts parts = split_url(c.url);
        EXPECT_EQ(parts.host, c.host) << c.url;
        EXPECT_EQ(parts.port, c.port) << c.url;
        EXPECT_EQ(parts.path, c.path) << c.url;
    }
}

TEST(Split_Url, ShorterThanSevenBytesIsAnError) {
    for (std::string_view url : {"", "http:/", "a/b", "h:80/x"}) {
        EXPECT_THROW(split_url(url), Exception) << url;
    }
    EXPECT_NO_THROW(split_url("h:80/xy"));
}
