#pragma once
// Numbers and URLs in HTTP text. Results are views into the given text.

#include <cstdint>
#include <string_view>

#include "socket/socket.hpp"

namespace http {

// Reads leading ASCII digits, removing them from `text`; 32-bit arithmetic
// that wraps without a check. A text not starting with a digit gives 0.
std::int32_t parse_decimal(std::string_view& text);

struct Url_Parts {
    sockets::Port port;
    std::string_view host;
    std::string_view path;
};

// Splits "http://host[:port]/path" (the scheme is optional). Port 80 and path
// "/" when absent. Throws Exception for a text shorter than 7 bytes.
Url_Parts split_url(std::string_view url);

}  // namespace http
