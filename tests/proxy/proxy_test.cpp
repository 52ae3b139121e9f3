// The real listener and handlers against an origin on loopback: what reaches
// the origin and the browser, the log lines, refusals, HTML filtering with
// decoding and its bounds, and handlers that end and are reused.

#include <gtest/gtest.h>

#include "base/exception.hpp"
#include "proxy_fixture.hpp"

using namespace test;
using proxy::Proxy_Options;
using sockets::Port;

namespace {

std::string get(const Origin& origin, std::string_view path, std::string_view version = "HTTP/1.0") {
    return "GET " + origin.url(path) + " " + std::string(version) + "\r\nHost: x\r\n\r\n";
}

std::string page_of(std::size_t size) {
    std::string page = "<html><body>\n";
    while (page.size() < size) page += "<p>hello from the moor, hello again</p>\n";
    return page + "</body></html>\n";
}

// The rules of these tests: every "hello" bracketed (the page grows).
std::string bracket(std::string body) {
    for (auto at = body.find("hello"); at != std::string::npos; at = body.find("hello", at + 7))
        body.replace(at, 5, "[hello]");
    return body;
}

std::string head_of(std::string_view type, std::string_view coding, std::string_view length) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(type) + "\r\n";
    if (!coding.empty()) head += "Content-Encoding: " + std::string(coding) + "\r\n";
    if (!length.empty()) head += "Content-Length: " + std::string(length) + "\r\n";
    return head + "Vary: Accept-Encoding\r\n\r\n";
}

std::string length_of(const std::string& s) { return std::to_string(s.size()); }

}  // namespace

class Proxy : public Proxy_Fixture {};

TEST_F(Proxy, WorkedExampleUpstreamBytesAndLogLines) {
    Origin origin = answering("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
    // The origin is offered only the codings the proxy decodes.
    const std::string request = "GET " + origin.url("/a/b?x=1") +
                                " HTTP/1.0\r\nHost: H:8000\r\nProxy-Connection: Keep-Alive\r\nAccept-Encoding: gzip, "
                                "deflate, br, zstd\r\naccept-encoding:br\nAccept: */*\r\n\r\n";
    const std::string upstream =
        "GET /a/b?x=1 HTTP/1.0\r\nHost: H:8000\r\nAccept-Encoding: gzip, deflate\r\naccept-encoding: "
        "identity\nAccept: */*\r\n\r\n";
    // The head arrives in two segments and is read whole.
    Raw_Connection b = browser();
    b.send_all(request.substr(0, 12));
    std::this_thread::sleep_for(100ms);
    b.send_all(request.substr(12));
    EXPECT_EQ(b.read_all(), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
    wait_idle();
    EXPECT_EQ(origin.requests(), std::vector<std::string>{upstream});
    const std::string text = log.text();
    ASSERT_TRUE(text.starts_with("---- #")) << text;
    const std::string id = text.substr(6, text.find(' ', 6) - 6);
    EXPECT_EQ(text, "---- #" + id + " start (1)\n---- #" + id + " from browser\n" + request + "\n---- #" + id +
                        " to server\n" + upstream + "\n---- #" + id +
                        " receiving from server\nHTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n\r\n#" + id +
                        " received 5 byte\n#" + id + " received 0 byte\n---- #" + id + " close\n---- #" + id +
                        " end (0) \n");
    EXPECT_EQ(errors.text(), "");
}

TEST_F(Proxy, PostBodyInPiecesAndHeadAnswersWithoutBody) {
    std::string body(2500, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
    Origin origin([](Raw_Connection& c, Origin& o) {
        std::string head = c.read_until("\r\n\r\n");
        while (head.starts_with("POST") && head.size() < head.find("\r\n\r\n") + 4 + 2500) head += c.read_some();
        o.record(head);
        c.send_all("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\n");
        if (!head.starts_with("HEAD")) c.send_all("ok");
    });
    Raw_Connection b = browser();
    b.send_all("POST " + origin.url("/form") + " HTTP/1.1\r\nContent-Length: 2500\r\n\r\n" + body.substr(0, 100));
    std::this_thread::sleep_for(50ms);
    b.send_all(body.substr(100) + "extra bytes beyond the length");
    EXPECT_EQ(b.read_all(), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_EQ(exchange("HEAD " + origin.url("/h") + " HTTP/1.1\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\n");
    wait_idle();
    EXPECT_EQ(origin.requests(), (std::vector<std::string>{"POST /form HTTP/1.0\r\nContent-Length: 2500\r\n\r\n" + body,
                                                           "HEAD /h HTTP/1.0\r\n\r\n"}));
    EXPECT_EQ(count_of(log.text(), " to server 2500 byte.\n"), 1u);
}

TEST_F(Proxy, RefusalsAnswer500AndWriteTheErrorLog) {
    Origin origin = answering("HTTP/1.0 200 OK\r\n\r\n");
    const Port refused = unused_port(), open = origin.port();
    const auto connect = [](Port p) { return "CONNECT 127.0.0.1:" + std::to_string(p) + " HTTP/1.1\r\n"; };
    struct Case {
        std::function<void(Proxy_Options&)> options;
        std::string request, message;
    };
    const auto none = [](Proxy_Options&) {};
    const Case cases[] = {
        {none, "CONNECT example.org:25 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT example.org:25 HTTP/1.1\r\n"},
        {[open](Proxy_Options& o) { o.tunnels = false, o.tunnel_ports = {open}; }, connect(open) + "\r\n",
         "未対応リクエスト: " + connect(open)},
        {none, "CONNECT 127.0.0.1 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT 127.0.0.1 HTTP/1.1\r\n"},
        {none, "CONNECT h:70000 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT h:70000 HTTP/1.1\r\n"},
        {[refused](Proxy_Options& o) { o.tunnel_ports = {refused}; }, connect(refused) + "\r\n", "サーバへの接続失敗"},
        {none, "get http://h/ HTTP/1.0\r\n\r\n", "未対応リクエスト: get http://h/ HTTP/1.0\r\n"},
        {none, "GET http://no-such-host.invalid/ HTTP/1.0\r\n\r\n", "ホストアドレス取得失敗"},
        {none, "GET http://127.0.0.1:" + std::to_string(refused) + "/ HTTP/1.0\r\n\r\n", "サーバへの接続失敗"},
        {none, "", "未対応リクエスト: "},
        {none, "POST " + origin.url("/") + " HTTP/1.0\r\nContent-Length: 1000\r\n\r\nonly this",
         "request body incomplete: the browser closed after 9 of 1000 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        set_options(c.options);
        errors.clear();
        Raw_Connection b = browser();
        b.send_all(c.request);
        b.shutdown_write();
        EXPECT_EQ(b.read_all(), refusal_head + c.message);
        wait_idle();
        const std::string text = errors.text();
        EXPECT_TRUE(text.starts_with("error in response thread #")) << text;
        EXPECT_TRUE(text.ends_with(" " + c.message + " (Exception)\r\n")) << text;
    }
    // A connection that never reached an origin logs no close line.
    EXPECT_EQ(count_of(log.text(), " close\n"), 0u);
    EXPECT_TRUE(origin.requests().empty());
}

// What the origin answers and what the browser gets: filtered HTML (decoded
// when it can be), or exactly the bytes sent with the reason in error.log.
TEST_F(Proxy, AnswersFilteredOrPassedThrough) {
    set_options([](Proxy_Options& o) {
        o.html_limit = 1 << 20;
        o.idle_limit = 1s;
    });
    std::string seen_target;
    filter = [&](std::string_view target, std::string body) {
        if (target.ends_with("/huge")) throw std::bad_alloc();
        seen_target = target;
        return bracket(std::move(body));
    };
    const std::string page = page_of(40000), done = bracket(page), gz = packed(page, Packing::gzip);
    const std::string zl = packed(page, Packing::zlib), raw = packed(page, Packing::raw);
    std::string corrupt = gz;
    for (std::size_t i = 100; i < 140; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x33);
    const std::string cut = gz.substr(0, gz.size() / 2), bomb = packed(std::string(50 << 20, ' '), Packing::gzip);
    const std::string big = page_of(3 << 20), twice = packed(gz, Packing::gzip), html = "text/html; charset=utf-8";
    const std::string plain = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1000\r\n\r\nabcdef";
    const std::string decoded = " decoded gzip: " + length_of(page) + " byte\n", same = "=";
    enum End { close, hold, reset };
    struct Case {
        const char* what;
        std::string answer, got;  // got "=": the answer as it was sent
        std::string error = "", logged = "";
        std::size_t piece = 0;  // the answer goes out in pieces of this size, with pauses
        End end = close;
        std::string path = "/page";
    };
    const Case cases[] = {
        {"gzip", head_of(html, "gzip", length_of(gz)) + gz, head_of(html, "", length_of(done)) + done, "", decoded},
        {"gzip in pieces", head_of(html, "gzip", length_of(gz)) + gz, head_of(html, "", length_of(done)) + done, "",
         decoded, 777},
        {"x-gzip without length", head_of(html, "x-gzip", "") + gz,
         "HTTP/1.1 200 OK\r\nContent-Type: " + html +
             "\r\nVary: Accept-Encoding\r\nContent-Length: " + length_of(done) + "\r\n\r\n" + done,
         "", decoded},
        {"deflate (zlib)", head_of(html, "deflate", length_of(zl)) + zl, head_of(html, "", length_of(done)) + done, "",
         " decoded deflate: "},
        {"deflate (raw)", head_of(html, "Deflate", length_of(raw)) + raw, head_of(html, "", length_of(done)) + done, "",
         " decoded deflate: ", 1},
        {"corrupt gzip", head_of(html, "gzip", length_of(corrupt)) + corrupt, same, "(gzip body not decodable: "},
        {"truncated gzip", head_of(html, "gzip", length_of(cut)) + cut, same, "(truncated)", "", 1000},
        {"unknown coding", head_of(html, "br", length_of(gz)) + gz, same, "(content coding br not decodable)"},
        {"codings one after the other", head_of(html, "gzip\r\nContent-Encoding: gzip", "") + twice, same,
         "(content coding gzip, gzip not decodable)"},
        {"compressed script", head_of("application/javascript", "gzip", length_of(gz)) + gz, same},
        {"gzip bomb", head_of(html, "gzip", length_of(bomb)) + bomb, same,
         "(decoded body over the limit of 1048576 bytes)"},
        {"long page with length", head_of(html, "", length_of(big)) + big, same,
         "(Content-Length over the limit of 1048576 bytes)", "", 65536},
        {"long page without length", head_of(html, "", "") + big, same, "(body over the limit of 1048576 bytes)", "",
         65536},
        {"no body", "HTTP/1.1 304 Not Modified\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n\r\n", same},
        // Detection by Content-Type.
        {"type with parameters", "HTTP/1.0 200 OK\r\ncontent-type:TEXT/HTML ; charset=utf-8\r\n\r\n<p>hello</p>",
         "HTTP/1.0 200 OK\r\ncontent-type:TEXT/HTML ; charset=utf-8\r\n\r\n<p>[hello]</p>"},
        {"xhtml", "HTTP/1.0 200 OK\r\nContent-Type: application/xhtml+xml\r\n\r\n<p>hello</p>", same},
        {"htmlx", "HTTP/1.0 200 OK\r\nContent-Type: text/htmlx\r\n\r\n<p>hello</p>", same},
        {"no type", "HTTP/1.0 200 OK\r\n\r\n<p>hello</p>", same},
        // The answer ends at its length though the origin stays open; the
        // split head is scanned whole and the length follows the body sent.
        {"length, origin open", "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nContent-Type: text/html\r\n\r\nhello there",
         "HTTP/1.1 200 OK\r\nContent-Length: 13\r\nContent-Type: text/html\r\n\r\n[hello] there", "", "", 20, hold},
        // Nothing reached the browser: it gets the 500 answer; part of the page did: the connection just closes.
        {"silent origin", "", refusal_head + "no byte moved for 1 s (receive timed out)",
         "no byte moved for 1 s (receive timed out) (Exception)\r\n", " nothing moved for 1 s: receive timed out\n", 0,
         hold},
        {"stalled origin", plain, same, "no byte moved for 1 s (receive timed out) (Exception)\r\n", "", 0, hold},
        // What the browser gets is left open: the 500 answer follows the part already sent.
        {"origin reset", plain, "?", "受信失敗", " close\n", 0, reset},
        {"filter out of memory", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>",
         refusal_head + "std::bad_alloc", "std::bad_alloc (OutOfMemory)", " close\n", 0, close, "/huge"},
        {"big body", "HTTP/1.0 200 OK\r\nContent-Length: 33554432\r\n\r\n" + std::string(32 << 20, 'b'), same, "", "",
         1 << 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> done{false};
        Origin origin([&](Raw_Connection& r, Origin& o) {
            o.read_request(r);
            const std::size_t piece = c.piece ? c.piece : c.answer.size() + 1;
            for (std::size_t at = 0; at < c.answer.size(); at += piece) {
                r.send_all(c.answer.substr(at, piece));
                if (c.piece) std::this_thread::sleep_for(1ms);
            }
            for (int i = 0; c.end == hold && i < 1000 && !done; ++i) std::this_thread::sleep_for(10ms);
            if (c.end == reset) std::this_thread::sleep_for(50ms), r.abort();
        });
        log.clear();
        errors.clear();
        const std::string got = exchange(get(origin, c.path, "HTTP/1.1"));
        done = true;
        wait_idle();
        EXPECT_TRUE(c.got == "?" || got == (c.got == same ? c.answer : c.got)) << got.substr(0, 300);
        const std::string text = errors.text();
        EXPECT_TRUE(c.error.empty() ? text.empty() : text.find(c.error) != std::string::npos) << text;
        EXPECT_NE(log.text().find(c.logged), std::string::npos) << log.text();
        EXPECT_EQ(count_of(log.text(), " html passed unfiltered: "), c.error.starts_with("(") ? 1u : 0u);
        // The filter sees the bare target.
        EXPECT_TRUE(seen_target.empty() || seen_target == origin.url(c.path)) << seen_target;
        seen_target.clear();
    }
}
