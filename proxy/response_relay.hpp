#pragma once
// Passes the origin server's answer to the browser: the header as received,
// other bodies streamed read by read, HTML bodies collected whole and passed
// once through the HTML filter.

#include <span>
#include <string_view>

#include "proxy/html_filter.hpp"

class Client_Socket;
class Response_Socket;

struct Relay {
    Client_Socket& server;
    Response_Socket& browser;
    std::string_view target;  // the request's absolute URI, for the filter
    bool head_request;        // the answer has no body, whatever its header says
    const Html_Filter& html_filter;
    int thread_id;             // for "#%d" in the log lines
    std::span<char> buffer;    // the handler's read buffer
};

void relay_response(const Relay& relay);
