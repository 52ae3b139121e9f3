#pragma once
// A browser's request, read and rewritten into the HTTP/1.0 request for the origin server.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "http/text.hpp"

namespace sockets {
class Response_Socket;
}  // namespace sockets

namespace proxy {

// The most a request head (request line and header lines) may take.
constexpr std::size_t max_request_head = 64 * 1024;

// Reads until the blank line that ends the head, or until the browser closes.
// Body bytes that came with the head are kept at the end of the result.
// A head longer than max_request_head throws; so does one not complete
// within `limit` (Socket_Timeout).
std::string read_request_head(sockets::Response_Socket& browser, std::span<char> buffer,
                              std::chrono::milliseconds limit);

struct Upstream_Request {
    std::string_view method;  // "GET ", "HEAD " or "POST ", with its space
    std::string_view target;  // the absolute URI, without method and version
    http::Url_Parts url;
    std::string header;            // request line, passed header lines, blank line
    std::string_view body;         // body bytes that came with the head
    std::uint32_t content_length;  // 0 when the request has none
};

// Rewrites the request text (views point into it): method and target checked,
// the version cut, "Proxy-Connection: Keep-Alive" dropped, Accept-Encoding cut
// to the codings the proxy can decode, every other line kept.
Upstream_Request rewrite_request(std::string_view request);

// A CONNECT request: the host and port of the tunnel it asks for.
struct Tunnel_Request {
    std::string_view request_line;  // as received, line end included
    std::string_view host;
    sockets::Port port;
    std::string_view early_bytes;  // what the browser sent after the head already
};

// True when the request asks for a tunnel.
bool is_connect(std::string_view request);
// Reads "CONNECT host:port HTTP/1.x"; throws "未対応リクエスト: " with the
// request line when it names no host or no port.
Tunnel_Request parse_connect(std::string_view request);

}  // namespace proxy
