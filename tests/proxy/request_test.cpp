#include "proxy/request.hpp"

#include <gtest/gtest.h>

#include "base/exception.hpp"
#include "proxy/response_thread.hpp"

using base::Exception;

using proxy::proxy_error_answer;
using proxy::rewrite_request;
using proxy::Upstream_Request;

TEST(Rewrite_Request, WorkedExample) {
    const std::string request =
        "GET http://H:8000/a/b?x=1 HTTP/1.0\r\nHost: H:8000\r\nProxy-Connection: Keep-Alive\r\nAccept: */*\r\n\r\n";
    const Upstream_Request r = rewrite_request(request);
    EXPECT_EQ(r.method, "GET ");
    EXPECT_EQ(r.target, "http://H:8000/a/b?x=1");
    EXPECT_EQ(r.url.host, "H");
    EXPECT_EQ(r.url.port, 8000);
    EXPECT_EQ(r.header, "GET /a/b?x=1 HTTP/1.0\r\nHost: H:8000\r\nAccept: */*\r\n\r\n");
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.content_length, 0u);
}

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
        const Upstream_Request r = rewrite_request(c.request);
        EXPECT_EQ(r.header, c.header) << c.request;
        EXPECT_EQ(r.target, c.target) << c.request;
        EXPECT_EQ(r.content_length, c.content_length) << c.request;
        EXPECT_EQ(r.body, c.body) << c.request;
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
    };
    for (const auto& c : cases) {
        try {
            rewrite_request(c.request);
            ADD_FAILURE() << "accepted: " << c.request;
        } catch (const Exception& e) {
            EXPECT_EQ(e.message().rfind(c.message_start, 0), 0u) << e.message();
        }
    }
}

TEST(Proxy_Error_Answer, FixedHeadMarkAndMessage) {
    EXPECT_EQ(proxy_error_answer("サーバへの接続失敗"),
              "HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBFサーバへの接続失敗");
}
