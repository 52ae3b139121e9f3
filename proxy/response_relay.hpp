#pragma once
// Passes the origin server's answer to the browser: the header as received,
// other bodies streamed read by read, HTML bodies collected (decoded from gzip
// or deflate when so sent) up to a bound and passed once through the HTML
// filter. An HTML body that cannot be filtered (too long, a coding the proxy
// cannot decode, corrupt coded data) is passed on exactly as received, with
// a log line and an error.log line saying why.

#include <cstddef>
#include <span>
#include <string_view>

#include "proxy/html_filter.hpp"

namespace sockets {
class Client_Socket;
class Response_Socket;
}  // namespace sockets

namespace proxy {

struct Relay {
    sockets::Client_Socket& server;
    sockets::Response_Socket& browser;
    std::string_view target;  // the request's absolute URI, for the filter
    bool head_request;        // the answer has no body, whatever its header says
    const Html_Filter& html_filter;
    int thread_id;           // for "#%d" in the log lines
    std::span<char> buffer;  // the handler's read buffer
    std::size_t html_limit;  // the most HTML collected or decoded for the filter
};

void relay_response(const Relay& relay);

}  // namespace proxy
