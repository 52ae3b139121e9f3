#pragma once
// The header block of an origin's answer: what the relay needs from it
// (body length, HTML or not, content coding), and the header as sent on
// after the body has been rewritten.

#include <cstdint>
#include <string>
#include <string_view>

#include "proxy/content_coding.hpp"

namespace proxy {

struct Response_Head {
    std::string header;  // the header lines as received, blank line included
    std::string body;    // body bytes that came with the header
    bool html = false;   // a Content-Type of text/html
    bool has_length = false;
    std::uint32_t content_length = 0;  // the last Content-Length line's value
    Content_Coding coding = Content_Coding::identity;
    std::string coding_value;  // the Content-Encoding value as written (for log lines)
};

// Scans `held` (the start of an answer) line by line up to the blank line;
// what follows it is the body. Lines are kept unchanged.
Response_Head scan_head(std::string_view held);

// The header with every Content-Length line set to `length` (name and line
// end kept); with `add_length`, one is added when there is none.
std::string with_content_length(std::string_view header, std::size_t length, bool add_length = false);
// The header without its Content-Encoding lines.
std::string without_content_encoding(std::string_view header);

}  // namespace proxy
