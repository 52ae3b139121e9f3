#include "http/header.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace header_name = http::header_name;

TEST(Header_Line, NameValueAndEnd) {
    struct Case {
        std::string_view line, name;
        bool is;
        std::string_view name_and_colon, value, ending;
    };
    const Case cases[] = {
        {"content-length:\t 5\n", header_name::content_length, true, "content-length:", "5\n", "\n"},
        // The first character counts like every other; both ends of 'A'..'Z' fold, on either side.
        {"Xontent-Length: 5\r\n", header_name::content_length, false, "Xontent-Length:", "5\r\n", "\r\n"},
        {"ACCEPT-ENCODING:gzip", header_name::accept_encoding, true, "ACCEPT-ENCODING:", "gzip", ""},
        {"X-ZONE: 1\r\n", "x-zone", true, "X-ZONE:", "1\r\n", "\r\n"},
        {"x-zone: 1\r\n", "X-Zone", true, "x-zone:", "1\r\n", "\r\n"},
        // Only ASCII letters fold: '@' and '[' sit just outside 'A'..'Z'.
        {"x-@: 1\r\n", "x-`", false, "x-@:", "1\r\n", "\r\n"},
        {"x-[: 1\r\n", "x-{", false, "x-[:", "1\r\n", "\r\n"},
        {"x-\xC4: 1\r\n", "x-\xE4", false, "x-\xC4:", "1\r\n", "\r\n"},
        {"Content-Lengthy: 5\r\n", header_name::content_length, false, "Content-Lengthy:", "5\r\n", "\r\n"},
        {"Content-Length : 5\r\n", header_name::content_length, false, "Content-Length :", "5\r\n", "\r\n"},
        // The name ends at the first colon; later ones belong to the value.
        {"Content-Type: text/html; a:b\r\n", header_name::content_type, true, "Content-Type:", "text/html; a:b\r\n",
         "\r\n"},
        {"Content-Encoding:\x01 \tgzip \r\n", header_name::content_encoding, true, "Content-Encoding:", "gzip \r\n",
         "\r\n"},
        {"Content-Encoding\r\n", header_name::content_encoding, false, "", "", "\r\n"},
        {"\r\n", header_name::content_type, false, "", "", "\r\n"},
        {"line\r", "line", false, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const http::Header_Line line(c.line);
        EXPECT_EQ(line.is(c.name), c.is);
        EXPECT_EQ(line.name_and_colon(), c.name_and_colon);
        EXPECT_EQ(line.value(), c.value);
        EXPECT_EQ(line.ending(), c.ending);
        EXPECT_EQ(line.is_blank(), c.line == "\r\n" || c.line == "\n");
    }
}

TEST(Header_Walk, LinesUpToTheBlankLineThenTheBody) {
    struct Case {
        std::string_view text;
        std::vector<std::string_view> lines;
        std::string_view rest;
        bool head_complete;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\nA: 1\n\r\nbody\r\n\r\n", {"HTTP/1.0 200 OK\r\n", "A: 1\n", "\r\n"}, "body\r\n\r\n", true},
        {"\n\nx", {"\n"}, "\nx", true},
        {"GET / HTTP/1.0\r\nHost: h\r\n", {"GET / HTTP/1.0\r\n", "Host: h\r\n"}, "", false},
        {"GET / HTTP/1.0\r\n\r", {"GET / HTTP/1.0\r\n", "\r"}, "", false},
        {"", {}, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        http::Header_Walk walk(c.text);
        std::vector<std::string_view> lines;
        // Bounded, so that a walk that never ends fails here at once.
        for (auto line = walk.next(); line && lines.size() <= c.lines.size(); line = walk.next())
            lines.push_back(line->text());
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(walk.rest(), c.rest);
        EXPECT_FALSE(walk.next());
        EXPECT_EQ(http::has_blank_line(c.text), c.head_complete);
    }
}
