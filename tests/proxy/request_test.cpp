#include "proxy/request.hpp"

#include <gtest/gtest.h>

#include "base/exception.hpp"
#include "proxy/response_thread.hpp"

using proxy::rewrite_request;

TEST(Rewrite_Request, HeaderLinesAndVersions) {
    struct Case {
        std::string request, header, target;
        std::uint32_t content_length;
        std::string body;
    };
    const Case cases[] = {
        // Browsers send HTTP/1.1 to proxies: the version is cut, upstream stays 1.0.
        {"GET http://h/p HTTP/1.1\r\n\r\n", "GET /p HTTP/1.0\r\n\r\n", "http://h/p", 0, ""},
        {"HEAD http://h HTTP/1.0\r\n\r\n", "HEAD / HTTP/1.0\r\n\r\n", "http://h", 0, ""},
        {"GET http://h/p\r\n\r\n", "GET /p HTTP/1.0\r\n\r\n", "http://h/p", 0, ""},
        // Only the exact Proxy-Connection line is dropped.
        {"GET http://h/ HTTP/1.0\r\nproxy-connection: keep-alive\r\nProxy-Connection: Keep-Alive\n\r\n",
         "GET / HTTP/1.0\r\nproxy-connection: keep-alive\r\nProxy-Connection: Keep-Alive\n\r\n", "http://h/", 0, ""},
        // Content-Length in any case; the last one wins; body bytes beyond it are kept.
        {"POST http://h/f HTTP/1.1\r\ncontent-length: 3\r\nCONTENT-LENGTH:\t 5\r\n\r\nabcdefg",
         "POST /f HTTP/1.0\r\ncontent-length: 3\r\nCONTENT-LENGTH:\t 5\r\n\r\n", "http://h/f", 5, "abcdefg"},
        // Bare LF line ends and a last line without an end.
        {"GET http://h/ HTTP/1.0\nHost: x\nAccept: y", "GET / HTTP/1.0\r\nHost: x\nAccept: y", "http://h/", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const proxy::Upstream_Request r = rewrite_request(c.request);
        EXPECT_EQ(r.header, c.header);
        EXPECT_EQ(r.target, c.target);
        EXPECT_EQ(r.content_length, c.content_length);
        EXPECT_EQ(r.body, c.body);
    }
    const proxy::Upstream_Request r = rewrite_request("GET http://H:8000/a HTTP/1.0\r\n\r\n");
    EXPECT_EQ(r.method, "GET ");
    EXPECT_EQ(r.url.host, "H");
    EXPECT_EQ(r.url.port, 8000);
}

TEST(Parse_Connect, HostPortAndEarlyBytes) {
    struct Case {
        std::string request, host;
        sockets::Port port;
        std::string early;
    };
    const Case cases[] = {
        {"CONNECT h:443 HTTP/1.1\r\nHost: h\r\n\r\nearly", "h", 443, "early"},
        {"CONNECT [::1]:8443 \t\r\n\r\n", "[::1]", 8443, ""},
        {"CONNECT h:65535\n\n", "h", 65535, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const proxy::Tunnel_Request t = proxy::parse_connect(c.request);
        EXPECT_EQ(t.host, c.host);
        EXPECT_EQ(t.port, c.port);
        EXPECT_EQ(t.early_bytes, c.early);
        EXPECT_EQ(t.request_line, c.request.substr(0, c.request.find('\n') + 1));
    }
}

TEST(Rewrite_Request, RefusedRequestsSayWhy) {
    struct Case {
        std::string request, message_start;
    };
    const Case cases[] = {
        {"", "未対応リクエスト: "},
        {"get http://h/ HTTP/1.0\r\n\r\n", "未対応リクエスト: get http://h/ HTTP/1.0\r\n"},
        {"CONNECT h:443 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT h:443 HTTP/1.1\r\n"},
        {"GET  \r\n\r\n", "request line has no target: "},
        {"GET http://\r\n\r\n", "request line too short: "},
        {"GET a HTTP/1.0\r\n\r\n", "URL too short"},
        // Refused tunnels.
        {" CONNECT h: HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT h: HTTP/1.1\r\n"},
        {" CONNECT :80 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT :80 HTTP/1.1\r\n"},
        {" CONNECT h:0 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT h:0 HTTP/1.1\r\n"},
        {" CONNECT h:4x3 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT h:4x3 HTTP/1.1\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        try {
            // A leading space marks a CONNECT row, parsed as a tunnel request.
            c.request.starts_with(" ") ? (void)proxy::parse_connect(c.request.substr(1))
                                       : (void)rewrite_request(c.request);
            ADD_FAILURE() << "accepted";
        } catch (const base::Exception& e) {
            EXPECT_TRUE(e.message().starts_with(c.message_start)) << e.message();
        }
    }
}
