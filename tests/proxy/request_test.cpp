#include "proxy/request.hpp"

#include <gtest/gtest.h>

#include "base/exception.hpp"
#include "proxy/response_thread.hpp"

using proxy::rewrite_request;

namespace {

// The message of what `parse` throws, or "accepted".
template <class F>
std::string refusal_of(F parse) try {
    return parse(), "accepted";
} catch (const base::Exception& e) {
    return e.message();
}

}  // namespace

TEST(Rewrite_Request, HeaderLinesVersionsAndRefusals) {
    struct Case {
        std::string request, header, target, body;
        std::uint32_t content_length;
    };
    const Case cases[] = {
        // Browsers send HTTP/1.1 to proxies: the version is cut, upstream stays 1.0.
        {"GET http://h/p HTTP/1.1\r\n\r\n", "GET /p HTTP/1.0\r\n\r\n", "http://h/p", "", 0},
        {"HEAD http://h HTTP/1.0\r\n\r\n", "HEAD / HTTP/1.0\r\n\r\n", "http://h", "", 0},
        {"GET http://h/p\r\n\r\n", "GET /p HTTP/1.0\r\n\r\n", "http://h/p", "", 0},
        // Only the exact Proxy-Connection line is dropped.
        {"GET http://h/ HTTP/1.0\r\nproxy-connection: keep-alive\r\nProxy-Connection: Keep-Alive\n\r\n",
         "GET / HTTP/1.0\r\nproxy-connection: keep-alive\r\nProxy-Connection: Keep-Alive\n\r\n", "http://h/", "", 0},
        // Content-Length in any case; the last one wins; body bytes beyond it are kept.
        {"POST http://h/f HTTP/1.1\r\ncontent-length: 3\r\nCONTENT-LENGTH:\t 5\r\n\r\nabcdefg",
         "POST /f HTTP/1.0\r\ncontent-length: 3\r\nCONTENT-LENGTH:\t 5\r\n\r\n", "http://h/f", "abcdefg", 5},
        // Bare LF line ends and a last line without an end.
        {"GET http://h/ HTTP/1.0\nHost: x\nAccept: y", "GET / HTTP/1.0\r\nHost: x\nAccept: y", "http://h/", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const proxy::Upstream_Request r = rewrite_request(c.request);
        EXPECT_EQ(r.header, c.header);
        EXPECT_EQ(r.target, c.target);
        EXPECT_EQ(r.content_length, c.content_length);
        EXPECT_EQ(r.body, c.body);
    }
    const std::pair<std::string, std::string> refused[] = {
        {"", "未対応リクエスト: "},
        {"get http://h/ HTTP/1.0\r\n\r\n", "未対応リクエスト: get http://h/ HTTP/1.0\r\n"},
        {"CONNECT h:443 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT h:443 HTTP/1.1\r\n"},
        {"GET  \r\n\r\n", "request line has no target: "},
        {"GET http://\r\n\r\n", "request line too short: "},
        {"GET a HTTP/1.0\r\n\r\n", "URL too short"},
    };
    for (const auto& [request, message] : refused)
        EXPECT_TRUE(refusal_of([&] { rewrite_request(request); }).starts_with(message)) << request;
}

TEST(Parse_Connect, HostPortAndEarlyBytesOrRefused) {
    struct Case {
        std::string request, host, early;
        sockets::Port port;
    };
    const Case cases[] = {
        {"CONNECT h:443 HTTP/1.1\r\nHost: h\r\n\r\nearly", "h", "early", 443},
        {"CONNECT [::1]:8443 \t\r\n\r\n", "[::1]", "", 8443},
        {"CONNECT h:65535\n\n", "h", "", 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const proxy::Tunnel_Request t = proxy::parse_connect(c.request);
        EXPECT_EQ(t.host, c.host);
        EXPECT_EQ(t.port, c.port);
        EXPECT_EQ(t.early_bytes, c.early);
        EXPECT_EQ(t.request_line, c.request.substr(0, c.request.find('\n') + 1));
    }
    for (std::string target : {"h:", ":80", "h:0", "h:4x3"}) {
        const std::string line = "CONNECT " + target + " HTTP/1.1\r\n";
        EXPECT_EQ(refusal_of([&] { proxy::parse_connect(line + "\r\n"); }), "未対応リクエスト: " + line);
    }
}
