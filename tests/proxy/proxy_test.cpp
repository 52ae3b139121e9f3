// The real listener and handlers against an origin on loopback: what reaches
// the origin and the browser, the log lines, refusals, HTML filtering with
// decoding and its bounds, tunnels, and the limits on time, threads and
// clients: what a silent, slow or hostile peer can do to the proxy.

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <set>

#include "base/thread.hpp"
#include "proxy_fixture.hpp"

using namespace test;
using base::Thread;
using proxy::Proxy_Options;
using Clock = std::chrono::steady_clock;

namespace {

std::string get(const Origin& origin, std::string_view path) {
    return "GET " + origin.url(path) + " HTTP/1.1\r\nHost: x\r\n\r\n";
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

std::string pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 2654435761u + seed) >> 11);
    return s;
}

// Reads on from what is already in hand until it holds `size` bytes or the peer closes.
std::string read_to(Raw_Connection& c, std::string have, std::size_t size) {
    for (std::string piece = "."; have.size() < size && !piece.empty(); have += piece) piece = c.read_some();
    return have;
}

// A thread that holds its slot of the thread registry until `go` is ready.
struct Parked : Thread {
    explicit Parked(std::shared_future<void> go) : go(std::move(go)) {}
    int run() override { return go.wait(), 0; }
    std::shared_future<void> go;
};

}  // namespace

class Proxy : public Proxy_Fixture {
protected:
    // Opens a tunnel to `origin` (allowing its port); what arrived behind the 200 line is left in `after`.
    Raw_Connection open_tunnel(const Origin& origin, std::string* after, std::string_view early = "") {
        const auto p = origin.port();
        set_options([&](Proxy_Options& o) { o.tunnel_ports = {443, p}, o.idle_limit = o.tunnel_idle_limit = idle; });
        Raw_Connection b = browser();
        b.send_all("CONNECT 127.0.0.1:" + std::to_string(p) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" +
                   std::string(early));
        const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
        *after = read_to(b, "", established.size());
        EXPECT_TRUE(after->starts_with(established)) << *after;
        after->erase(0, established.size());
        return b;
    }
    std::chrono::milliseconds idle = 5s;
};

TEST_F(Proxy, WorkedExampleUpstreamBytesAndLogLines) {
    // The origin is offered only the codings the proxy decodes; the body goes on to its length, no further.
    std::string body = pattern(2500, 3);
    for (char& c : body) c = static_cast<char>('a' + (c & 15));
    const std::string upstream =
        "POST /a/b?x=1 HTTP/1.0\r\nHost: H:8000\r\nAccept-Encoding: gzip, deflate\r\n"
        "accept-encoding: identity\nContent-Length: 2500\r\n\r\n" +
        body;
    Origin origin([&](Raw_Connection& c, Origin& o) {
        o.record(read_to(c, "", upstream.size()));
        c.send_all("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
    });
    const std::string request = "POST " + origin.url("/a/b?x=1") +
                                " HTTP/1.1\r\nHost: H:8000\r\nProxy-Connection: Keep-Alive\r\nAccept-Encoding: gzip, "
                                "deflate, br, zstd\r\naccept-encoding:br\nContent-Length: 2500\r\n\r\n" +
                                body;
    // The head arrives in two segments and is read whole; the body in two, with more bytes than its length.
    Raw_Connection b = browser();
    const std::size_t cuts[] = {0, 12, request.size() - 2400, request.size()};
    for (int i = 0; i < 3; ++i) {
        b.send_all(request.substr(cuts[i], cuts[i + 1] - cuts[i]) + (i == 2 ? "extra bytes beyond the length" : ""));
        for (int t = 0; t < (i == 0 ? 5 : 500) && (i == 0 || count_of(log.text(), " from browser\n") == 0); ++t)
            std::this_thread::sleep_for(10ms);  // the rest of the body goes after the head has been read
    }
    EXPECT_EQ(b.read_all(), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
    wait_idle();
    EXPECT_EQ(origin.requests(), std::vector<std::string>{upstream});
    const std::string text = log.text();
    ASSERT_TRUE(text.starts_with("---- #")) << text;
    const std::string line = "---- #" + text.substr(6, text.find(' ', 6) - 6) + " ",
                      up_head = upstream.substr(0, upstream.size() - 2500);
    EXPECT_EQ(text, line + "start (1)\n" + line + "from browser\n" + request.substr(0, cuts[2]) + "\n" + line +
                        "to server\n" + up_head + "\n" + line + "to server 2500 byte.\n" + line +
                        "receiving from server\nHTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n\r\n" +
                        line.substr(5) + "received 5 byte\n" + line.substr(5) + "received 0 byte\n" + line + "close\n" +
                        line + "end (0) \n");
    EXPECT_EQ(errors.text(), "");
}

// What the origin answers and what the browser gets: filtered HTML (decoded
// when it can be), or exactly the bytes sent with the reason in error.log;
// requests the proxy cannot serve get the 500 answer and an error.log line.
TEST_F(Proxy, AnswersFilteredPassedThroughOrRefused) {
    const auto refused = unused_port();
    set_options([&](Proxy_Options& o) { o.html_limit = 1 << 20, o.idle_limit = 1s, o.tunnel_ports = {refused}; });
    std::string seen_target;
    filter = [&](std::string_view target, std::string body) {
        if (body == "<p>page</p>") throw std::bad_alloc();
        seen_target = target;
        return bracket(std::move(body));
    };
    const std::string page = page_of(40000), done = bracket(page), gz = packed(page, Packing::gzip);
    std::string corrupt = gz;
    for (std::size_t i = 100; i < 140; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x33);
    const std::string plain = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1000\r\n\r\nabcdef";
    const std::string decoded = " decoded gzip: " + std::to_string(page.size()) + " byte\n", same = "=";
    const std::string timed_out = "no byte moved for 1 s (receive timed out)";
    const auto reply = [](std::string coding, const std::string& body, bool length = true,
                          std::string type = "text/html; charset=utf-8") {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n";
        if (!coding.empty()) head += "Content-Encoding: " + coding + "\r\n";
        head += "Vary: Accept-Encoding\r\n";
        return head + (length ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") + "\r\n" + body;
    };
    enum End { close, hold, reset };
    struct Case {
        std::string what, answer, got;  // got "=": the answer as it was sent
        std::string error = "", logged = "";
        std::size_t piece = 0;  // the answer goes out in pieces of this size, with pauses
        End end = close;
        std::string request = "GET";  // a method, or the whole request, after which the browser stops sending
    };
    const auto refusal = [](std::string request, std::string message) {
        return Case{message, "", refusal_head + message, message + " (Exception)\r\n", "", 0, close, request};
    };
    const std::string unsupported = "CONNECT example.org:25 HTTP/1.1\r\n";
    Origin any = answering("HTTP/1.0 200 OK\r\n\r\n");
    const Case cases[] = {
        // Decoded pages get the length of what is sent, added when the origin gave none.
        {"x-gzip without length", reply("x-gzip", gz, false), reply("", done), "", decoded},
        {"raw deflate", reply("Deflate", packed(page, Packing::raw)), reply("", done), "", " decoded deflate: ", 1},
        {"corrupt gzip", reply("gzip", corrupt), same, "(gzip body not decodable: "},
        {"truncated gzip", reply("gzip", gz.substr(0, gz.size() / 2)), same, "(truncated)", "", 1000},
        {"unknown coding", reply("br", gz), same, "(content coding br not decodable)"},
        {"codings one after the other", reply("gzip\r\nContent-Encoding: gzip", packed(gz, Packing::gzip), false), same,
         "(content coding gzip, gzip not decodable)"},
        {"compressed xhtml", reply("gzip", gz, true, "application/xhtml+xml"), same},
        {"gzip bomb", reply("gzip", packed(std::string(50 << 20, ' '), Packing::gzip)), same,
         "(decoded body over the limit of 1048576 bytes)"},
        {"long page", reply("", page_of(3 << 20), false), same, "(body over the limit of 1048576 bytes)", "", 65536},
        // Past the limit the page streams at once: held back, it would reach the browser only when the origin ends.
        {"long page, origin open", reply("", page_of(3 << 20), false), same, "(body over the limit of 1048576 bytes)",
         "", 65536, hold},
        {"no body", "HTTP/1.1 304 Not Modified\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n\r\n", same},
        {"head", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\n", same, "", "", 0, hold,
         "HEAD"},
        // Detection by Content-Type.
        {"type with parameters", "HTTP/1.0 200 OK\r\ncontent-type:TEXT/HTML ; charset=utf-8\r\n\r\n<p>hello</p>",
         "HTTP/1.0 200 OK\r\ncontent-type:TEXT/HTML ; charset=utf-8\r\n\r\n<p>[hello]</p>"},
        {"htmlx", "HTTP/1.0 200 OK\r\nContent-Type: text/htmlx\r\n\r\n<p>hello</p>", same},
        {"no type", "HTTP/1.0 200 OK\r\n\r\n<p>hello</p>", same},
        // The answer ends at its length though the origin stays open; the
        // split head is scanned whole and the length follows the body sent.
        {"length, origin open", "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nContent-Type: text/html\r\n\r\nhello there",
         "HTTP/1.1 200 OK\r\nContent-Length: 13\r\nContent-Type: text/html\r\n\r\n[hello] there", "", "", 20, hold},
        // Nothing reached the browser: it gets the 500 answer; part of the page did: the connection just closes.
        {"silent origin", "", refusal_head + timed_out, timed_out + " (Exception)\r\n",
         " nothing moved for 1 s: receive timed out\n", 0, hold},
        {"stalled origin", plain, same, timed_out + " (Exception)\r\n", "", 0, hold},
        {"origin reset", plain, same, "受信失敗", " close\n", 0, reset},
        {"filter out of memory", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>",
         refusal_head + "std::bad_alloc", "std::bad_alloc (OutOfMemory)", " close\n"},
        refusal(unsupported + "\r\n", "未対応リクエスト: " + unsupported),
        refusal("CONNECT 127.0.0.1:" + std::to_string(refused) + " HTTP/1.1\r\n\r\n", "サーバへの接続失敗"),
        refusal("GET http://no-such-host.invalid/ HTTP/1.0\r\n\r\n", "ホストアドレス取得失敗"),
        refusal("", "未対応リクエスト: "),
        // Sent whole before reading, like curl: the proxy drains the rest so the answer is not lost to a reset.
        refusal("GET http://h/ HTTP/1.0\r\nX: " + std::string(800 << 10, 'f'),
                "request header too large (over 65536 bytes)"),
        refusal("POST " + any.url("/") + " HTTP/1.0\r\nContent-Length: 1000\r\n\r\nonly this",
                "request body incomplete: the browser closed after 9 of 1000 bytes"),
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
        Raw_Connection b = browser();
        const bool whole = c.request != "GET" && c.request != "HEAD";
        b.send_all(whole ? c.request : c.request + " " + origin.url("/page") + " HTTP/1.1\r\nHost: x\r\n\r\n");
        if (whole) b.shutdown_write();
        const std::string got = b.read_all();
        done = true;
        wait_idle();
        EXPECT_TRUE(got == (c.got == same ? c.answer : c.got)) << got.substr(0, 300);
        const std::string text = errors.text();
        EXPECT_TRUE(c.error.empty() ? text.empty() : text.find(c.error) != std::string::npos) << text;
        EXPECT_NE(log.text().find(c.logged), std::string::npos) << log.text();
        EXPECT_EQ(count_of(log.text(), " html passed unfiltered: "), c.error.starts_with("(") ? 1u : 0u);
        // The filter sees the bare target.
        EXPECT_TRUE(seen_target.empty() || seen_target == origin.url("/page")) << seen_target;
        seen_target.clear();
    }
    // After answering, the proxy reads on for a while: bytes the browser sends
    // late meet no closed socket, whose reset could cost the browser the answer.
    Raw_Connection late = browser();
    late.send_all(unsupported + "\r\n");
    EXPECT_EQ(late.read_all(), refusal_head + "未対応リクエスト: " + unsupported);
    for (int i = 0; i < 5; ++i) late.send_all("late"), std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(any.requests().empty());
}

// Two handlers at once count themselves; a finished one serves the next
// connection; a second listener cannot take the port; clients outside
// allowed_clients are refused; the stop flag ends the listener without
// starting a handler.
TEST_F(Proxy, HandlersCountThemselvesServeAgainAndStop) {
    std::mutex m;
    std::condition_variable cv;
    int waiting = 0;
    const auto script = [&](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        std::unique_lock lock(m);
        ++waiting;
        cv.notify_all();
        cv.wait_for(lock, 10s, [&] { return waiting >= 2; });  // the first two handlers run at once
        lock.unlock();
        c.send_all("HTTP/1.0 200 OK\r\n\r\nx");
    };
    Origin origin(script), other(script);
    std::string a, b;
    std::thread first([&] { a = exchange(get(origin, "/1")); });
    b = exchange(get(other, "/2"));
    first.join();
    wait_idle();
    EXPECT_EQ(a, "HTTP/1.0 200 OK\r\n\r\nx");
    EXPECT_EQ(b, a);
    EXPECT_EQ(exchange(get(origin, "/3")), a);
    wait_idle();
    const std::string text = log.text();
    for (auto [line, n] :
         {std::pair{" start (1)\n", 2u}, {" start (2)\n", 1u}, {" end (1) \n", 1u}, {" end (0) \n", 2u}})
        EXPECT_EQ(count_of(text, line), n) << line;
    EXPECT_LT(text.find(" end (1) "), text.find(" end (0) "));
    // The third exchange is served by one of the first two threads.
    std::set<std::string> ids;
    for (auto at = text.find("---- #"); at != std::string::npos; at = text.find("---- #", at + 1))
        ids.insert(text.substr(at, text.find(' ', at + 5) - at));
    EXPECT_EQ(ids.size(), 2u) << text;
    proxy::Proxy_Thread second(port);  // on the port the listener holds
    second.start();
    second.wait();
    EXPECT_EQ(log.text().substr(text.size()), "error in server thread (Exception): bind失敗\n");
    // Only allowed clients are served: 127.0.0.0/31 holds .1, not .2.
    set_options([](Proxy_Options& o) { o.allowed_clients = {{0x7F000001, 31}}; });
    std::string got[2];
    for (int i = 0; i < 2; ++i) {
        Raw_Connection c = browser(i ? "127.0.0.2" : "127.0.0.1");
        quietly([&] { c.send_all(get(origin, "/4")), got[i] = c.read_all(); });
    }
    EXPECT_EQ(got[0] + "|" + got[1], a + "|");
    wait_idle();
    EXPECT_EQ(count_of(log.text(), "---- connection from 127.0.0.2 refused: not in allowed_clients\n"), 1u);
    log.clear();
    listener->stop_requested = true;
    Raw_Connection wake = browser();
    listener->wait();
    listener.reset();
    EXPECT_EQ(log.text(), "");
}

TEST_F(Proxy, TimeAndThreadLimitsOnSilentTricklingNonReadingAndTooManyBrowsers) {
    set_options([](Proxy_Options& o) { o.head_limit = 600ms, o.idle_limit = 300ms; });
    // Past the thread limit connections are refused at once; service recovers.
    Origin served = answering("HTTP/1.0 200 OK\r\n\r\nserved");
    std::promise<void> go;
    std::vector<std::unique_ptr<Parked>> parked;
    std::vector<Raw_Connection> idle;
    {
        // Every free slot of the thread registry but two is held until the end of this block.
        const std::shared_ptr<void> release(nullptr, [&](void*) {
            go.set_value();
            for (auto& p : parked) p->wait();
        });
        const std::shared_future<void> ready = go.get_future().share();
        while (Thread::live_count() < Thread::max_threads - 2) parked.emplace_back(new Parked(ready))->start();
        // Two get a handler each and hold it; the next is refused at once.
        for (int i = 0; i < 2; ++i) idle.push_back(browser());
        for (int i = 0; i < 20 && Thread::live_count() < Thread::max_threads; ++i) std::this_thread::sleep_for(10ms);
        const auto start = Clock::now();
        Raw_Connection late = browser();
        // A body the proxy never reads, sent whole before reading: the answer must still arrive.
        EXPECT_NO_THROW(late.send_all("POST " + served.url("/") + " HTTP/1.1\r\nContent-Length: 800000\r\n\r\n" +
                                      std::string(800000, 'p')));
        std::string answer;
        EXPECT_NO_THROW(answer = late.read_all());
        EXPECT_TRUE(answer.starts_with(refusal_head + "too many threads")) << answer;
        EXPECT_LT(Clock::now() - start, 500ms);
        EXPECT_NE(log.text().find("error in server thread (Exception): too many threads"), std::string::npos);
    }
    // The idle two hold their handlers until the head limit; then service resumes by itself.
    for (auto& c : idle) EXPECT_EQ(c.read_all(), "");
    EXPECT_EQ(exchange(get(served, "/after")), "HTTP/1.0 200 OK\r\n\r\nserved");
    wait_idle();
    log.clear();
    // The head limit holds for a silent browser.
    const auto start = Clock::now();
    EXPECT_EQ(browser().read_all(), "");
    EXPECT_GE(Clock::now() - start, 550ms);
    // One byte every 100 ms never completes a head: the limit is for the whole head, not for each read.
    Raw_Connection trickle = browser();
    const std::string request = "GET http://127.0.0.1/ HTTP/1.0\r\n";
    std::size_t sent = 0;
    for (; sent < request.size() && !trickle.readable_within(100); ++sent) trickle.send_all(request.substr(sent, 1));
    EXPECT_LT(sent, 10u);  // closed at the limit, long before the last byte
    EXPECT_EQ(trickle.read_all(), "");
    wait_idle();
    EXPECT_EQ(count_of(log.text(), " no request within 0.6 s: closed\n"), 2u) << log.text();
    EXPECT_EQ(errors.text(), "");
    // A browser that stops reading is let go at the idle limit.
    std::atomic<bool> done{false};
    Origin origin([&](Raw_Connection& c, Origin& o) {
        o.read_request(c);  // the proxy closes the exchange at its limit: the sends may fail
        quietly([&] {
            c.send_all("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n");
            for (int i = 0; i < 256 && !done; ++i) c.send_all(std::string(1 << 20, 'z'));
        });
    });
    Raw_Connection b = browser();
    b.send_all(get(origin, "/big"));
    for (int i = 0; i < 500 && count_of(log.text(), " start (") == 2; ++i) std::this_thread::sleep_for(10ms);
    wait_idle();
    done = true;
    EXPECT_NE(errors.text().find("send timed out"), std::string::npos) << errors.text();
    // Less than a millisecond left is no time left, never a wait without limit.
    set_options([](Proxy_Options& o) { o.head_limit = 0ms; });
    EXPECT_EQ(browser().read_all(), "");
}

// CONNECT tunnels to a plain TCP origin (the bytes are opaque to the proxy,
// TLS or not): both directions, a half close, large transfers, the idle limit.
TEST_F(Proxy, TunnelsBothWaysHalfClosedLargeAndIdle) {
    // The origin speaks first, echoes a line, and answers the browser's end of sending with its own last bytes.
    Origin origin([](Raw_Connection& c, Origin& o) {
        c.send_all("hello");
        const std::string got = o.record(c.read_until("\n"));
        c.send_all("echo:" + got);
        if (got != "close first\n") o.record(c.read_all()), c.send_all("bye");  // the browser ends it
    });
    std::string after;
    {
        Raw_Connection b = open_tunnel(origin, &after);  // the origin ends this one
        EXPECT_EQ(read_to(b, after, 5), "hello");
        b.send_all("close first\n");
        EXPECT_EQ(b.read_all(), "echo:close first\n");
    }
    {
        Raw_Connection b = open_tunnel(origin, &after, "early ");  // sent before the 200 arrived
        EXPECT_EQ(read_to(b, after, 5), "hello");
        b.send_all("bytes\n");
        EXPECT_EQ(b.read_until("\n"), "echo:early bytes\n");
        b.send_all("tail");
        b.shutdown_write();
        EXPECT_EQ(b.read_all(), "bye");
    }
    wait_idle();
    EXPECT_EQ(origin.requests(), (std::vector<std::string>{"close first\n", "early bytes\n", "tail"}));
    EXPECT_EQ(count_of(log.text(), " tunnel to 127.0.0.1:" + std::to_string(origin.port()) + "\n"), 2u) << log.text();
    EXPECT_EQ(count_of(log.text(), " tunnel closed: 12 byte to server, 22 byte to browser\n"), 1u) << log.text();
    EXPECT_EQ(count_of(log.text(), " tunnel closed: 16 byte to server, 25 byte to browser\n"), 1u) << log.text();
    EXPECT_EQ(errors.text(), "");
    // The browser sends its whole upload before it reads, while the origin
    // sends its whole answer: a tunnel that blocks on either side stalls both.
    // Then nothing moves, and the idle limit ends the tunnel.
    const std::string up = pattern(32 << 20, 1), down = pattern(32 << 20, 2);  // past what socket buffers hold
    Origin big([&](Raw_Connection& c, Origin& o) {
        std::thread writer([&] { quietly([&] { c.send_all(down); }); });
        std::string got;
        quietly([&] { got = read_to(c, "", up.size()); });
        writer.join();
        o.record(got == up ? "same" : "different");
        quietly([&] { c.read_all(); });
    });
    idle = 3s;
    Raw_Connection b = open_tunnel(big, &after);
    EXPECT_NO_THROW(b.send_all(up));
    quietly([&] { after = read_to(b, after, down.size()); });
    EXPECT_TRUE(after == down) << after.size();
    EXPECT_EQ(b.read_all(), "");
    wait_idle();
    EXPECT_EQ(big.requests(), std::vector<std::string>{"same"});
    EXPECT_EQ(count_of(log.text(), " tunnel idle for 3 s\n"), 1u) << log.text();
}
