#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>

#include "base/exception.hpp"
#include "base/thread.hpp"
#include "proxy_fixture.hpp"

using base::Exception;
using base::Thread;
using base::window_log;

using proxy::LISTEN_PORT;
using proxy::Proxy_Thread;
using sockets::Port;
using sockets::Server_Socket;

using namespace std::chrono_literals;
using test::count_of;
using test::Origin;
using test::Raw_Connection;

namespace {

std::string get(const Origin& origin, std::string_view path, std::string_view version = "HTTP/1.0") {
    return "GET " + origin.url(path) + " " + std::string(version) + "\r\nHost: x\r\n\r\n";
}

// An origin that answers every request with `answer` and closes.
Origin answering(std::string answer) {
    return Origin([answer](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        c.send_all(answer);
    });
}

}  // namespace

class Proxy : public test::Proxy_Fixture {};

TEST_F(Proxy, WorkedExampleUpstreamBytesAndLogLines) {
    Origin origin = answering("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
    const std::string request = "GET " + origin.url("/a/b?x=1") +
                                " HTTP/1.0\r\nHost: H:8000\r\nProxy-Connection: Keep-Alive\r\nAccept: */*\r\n\r\n";
    EXPECT_EQ(exchange(request), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
    wait_idle();
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(origin.requests()[0], "GET /a/b?x=1 HTTP/1.0\r\nHost: H:8000\r\nAccept: */*\r\n\r\n");

    // The lines of one connection, in order, with its thread id.
    const std::string text = log.text();
    ASSERT_TRUE(text.starts_with("---- #")) << text;
    const std::string id = text.substr(6, text.find(' ', 6) - 6);
    ASSERT_FALSE(id.empty());
    const std::string expected =
        "---- #" + id + " start (1)\n---- #" + id + " from browser\n" + request + "\n---- #" + id +
        " to server\nGET /a/b?x=1 HTTP/1.0\r\nHost: H:8000\r\nAccept: */*\r\n\r\n\n---- #" + id +
        " receiving from server\nHTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n\r\n#" + id +
        " received 5 byte\n#" + id + " received 0 byte\n---- #" + id + " close\n---- #" + id + " end (0) \n";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(errors.text(), "");
}

TEST_F(Proxy, HeadAndPostGoUpstreamWithTheirBodies) {
    std::string body(2500, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
    Origin origin([](Raw_Connection& c, Origin& o) {
        std::string head = c.read_until("\r\n\r\n");
        if (head.starts_with("POST")) {
            while (head.size() < head.find("\r\n\r\n") + 4 + 2500) head += c.read_some();
        }
        o.record(head);
        c.send_all("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n");
        if (head.starts_with("POST")) c.send_all("ok");
    });
    const std::string post = "POST " + origin.url("/form") + " HTTP/1.1\r\nContent-Length: 2500\r\n\r\n";
    // The body arrives in pieces, some time after the head.
    Raw_Connection b = browser();
    b.send_all(post + body.substr(0, 100));
    std::this_thread::sleep_for(50ms);
    b.send_all(body.substr(100, 1400));
    std::this_thread::sleep_for(50ms);
    b.send_all(body.substr(1500) + "extra bytes beyond the length");
    EXPECT_EQ(b.read_all(), "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");

    EXPECT_EQ(exchange("HEAD " + origin.url("/h") + " HTTP/1.1\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n");
    wait_idle();
    const auto requests = origin.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "POST /form HTTP/1.0\r\nContent-Length: 2500\r\n\r\n" + body);
    EXPECT_EQ(requests[1], "HEAD /h HTTP/1.0\r\n\r\n");
    EXPECT_EQ(count_of(log.text(), " to server 2500 byte.\n"), 1u);
}

TEST_F(Proxy, RequestHeadInTwoSegmentsIsReadWhole) {
    Origin origin = answering("HTTP/1.0 204 No Content\r\n\r\n");
    Raw_Connection b = browser();
    const std::string request = get(origin, "/split", "HTTP/1.1");
    b.send_all(request.substr(0, 12));
    std::this_thread::sleep_for(100ms);
    b.send_all(request.substr(12));
    EXPECT_EQ(b.read_all(), "HTTP/1.0 204 No Content\r\n\r\n");
    wait_idle();
    EXPECT_EQ(origin.requests().at(0), "GET /split HTTP/1.0\r\nHost: x\r\n\r\n");
}

TEST_F(Proxy, OversizedHeadIsRefused) {
    Raw_Connection b = browser();
    b.send_all("GET http://127.0.0.1/ HTTP/1.0\r\n");
    const std::string filler = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    std::string answer;
    try {
        for (int i = 0; i < 80; ++i) b.send_all(filler);
    } catch (...) {
        // The proxy may close before everything is sent.
    }
    answer = b.read_all();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 500 Proxy Error\r\n")) << answer.substr(0, 100);
    EXPECT_NE(answer.find("request header too large"), std::string::npos);
}

TEST_F(Proxy, BrowserClosingBeforeTheBodyIsCompleteIsAnError) {
    Origin origin = answering("HTTP/1.0 200 OK\r\n\r\n");
    Raw_Connection b = browser();
    b.send_all("POST " + origin.url("/") + " HTTP/1.0\r\nContent-Length: 1000\r\n\r\nonly this");
    b.shutdown_write();
    const std::string answer = b.read_all();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 500 Proxy Error")) << answer;
    wait_idle();
    EXPECT_NE(errors.text().find("request body incomplete"), std::string::npos) << errors.text();
    EXPECT_TRUE(origin.requests().empty());
}

TEST_F(Proxy, FailuresAnswer500AndWriteTheErrorLog) {
    const Port refused = test::unused_port();
    struct Case {
        std::string request, message;
    };
    const Case cases[] = {
        {"CONNECT example.org:25 HTTP/1.1\r\n\r\n", "未対応リクエスト: CONNECT example.org:25 HTTP/1.1\r\n"},
        {"get http://h/ HTTP/1.0\r\n\r\n", "未対応リクエスト: get http://h/ HTTP/1.0\r\n"},
        {"GET http://no-such-host.invalid/ HTTP/1.0\r\n\r\n", "ホストアドレス取得失敗"},
        {"GET http://127.0.0.1:" + std::to_string(refused) + "/ HTTP/1.0\r\n\r\n", "サーバへの接続失敗"},
        {"", "未対応リクエスト: "},
    };
    for (const auto& c : cases) {
        errors.clear();
        Raw_Connection b = browser();
        b.send_all(c.request);
        b.shutdown_write();
        EXPECT_EQ(b.read_all(), "HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBF" + c.message);
        wait_idle();
        // "error in response thread #<id> <message> (Exception)\r\n"
        const std::string text = errors.text();
        const std::string head = "error in response thread #", tail = " (Exception)\r\n";
        ASSERT_TRUE(text.starts_with(head) && text.ends_with(tail)) << text;
        const std::size_t space = text.find(' ', head.size());
        EXPECT_EQ(text.substr(space + 1, text.size() - tail.size() - space - 1), c.message);
    }
    // A connection that never reached an origin logs no close line.
    EXPECT_EQ(count_of(log.text(), " close\n"), 0u);
}

TEST_F(Proxy, AnswerEndsAtContentLengthEvenIfTheOriginStaysOpen) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    Origin origin([&](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        c.send_all("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n");
        std::this_thread::sleep_for(20ms);
        c.send_all("Content-Type: text/html\r\n\r\n01234");
        std::this_thread::sleep_for(20ms);
        c.send_all("56789");
        std::unique_lock lock(m);
        cv.wait_for(lock, 10s, [&] { return release; });  // keep-alive: never closes by itself
    });
    filter = [](std::string_view, std::string body) { return "[" + body + "]"; };
    // The split header is scanned whole: the HTML is filtered and the length follows the body sent.
    EXPECT_EQ(exchange(get(origin, "/")),
              "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nContent-Type: text/html\r\n\r\n[0123456789]");
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    wait_idle();
    EXPECT_EQ(count_of(log.text(), "received 0 byte"), 0u);
}

TEST_F(Proxy, HtmlDetectionByContentType) {
    struct Case {
        std::string type_line;
        bool html;
    };
    const Case cases[] = {
        {"Content-Type: text/html\r\n", true},           {"content-type:TEXT/HTML ; charset=utf-8\r\n", true},
        {"Content-Type: text/html;charset=x\r\n", true}, {"Content-Type: application/xhtml+xml\r\n", false},
        {"Content-Type: text/htmlx\r\n", false},         {"", false},
    };
    filter = [](std::string_view, std::string body) { return body + "+filtered"; };
    for (const auto& c : cases) {
        Origin origin = answering("HTTP/1.0 200 OK\r\n" + c.type_line + "\r\n<p>x</p>");
        const std::string answer = exchange(get(origin, "/"));
        EXPECT_EQ(answer.ends_with("<p>x</p>+filtered"), c.html) << c.type_line << answer;
    }
}

TEST_F(Proxy, FilterSeesTheBareTargetAndHeadAnswersStayBodiless) {
    std::string seen_target;
    filter = [&](std::string_view target, std::string body) {
        seen_target = target;
        return body.empty() ? body : "short";
    };
    Origin origin([](Raw_Connection& c, Origin& o) {
        const std::string head = o.read_request(c);
        c.send_all("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 11\r\n\r\n");
        if (head.starts_with("GET")) c.send_all("hello world");
    });
    EXPECT_EQ(exchange(get(origin, "/page?q=1", "HTTP/1.1")),
              "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nshort");
    EXPECT_EQ(seen_target, origin.url("/page?q=1"));
    EXPECT_EQ(exchange("HEAD " + origin.url("/") + " HTTP/1.1\r\n\r\n"),
              "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 11\r\n\r\n");
}

TEST_F(Proxy, LargeBodyIsRelayedByteExact) {
    constexpr std::size_t size = 200u << 20;
    auto byte_at = [](std::size_t i) { return static_cast<char>((i * 2654435761u) >> 13); };
    Origin origin([&](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        c.send_all("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                   std::to_string(size) + "\r\n\r\n");
        std::string chunk(1 << 20, '\0');
        for (std::size_t at = 0; at < size; at += chunk.size()) {
            for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = byte_at(at + i);
            c.send_all(chunk);
        }
    });
    Raw_Connection b = browser();
    b.send_all(get(origin, "/big"));
    const std::string head = b.read_until("\r\n\r\n");
    std::size_t received = head.size() - (head.find("\r\n\r\n") + 4);
    bool same = true;
    for (std::size_t i = 0; i < received; ++i) same &= head[head.size() - received + i] == byte_at(i);
    for (;;) {
        const std::string piece = b.read_some(1 << 16);
        if (piece.empty()) break;
        for (std::size_t i = 0; i < piece.size() && same; ++i) same = piece[i] == byte_at(received + i);
        received += piece.size();
    }
    EXPECT_EQ(received, size);
    EXPECT_TRUE(same);
}

TEST_F(Proxy, ConcurrentHandlersCountThemselves) {
    std::mutex m;
    std::condition_variable cv;
    int waiting = 0;
    Origin origin([&](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        std::unique_lock lock(m);
        ++waiting;
        cv.notify_all();
        cv.wait_for(lock, 10s, [&] { return waiting == 2; });  // both handlers are running now
        lock.unlock();
        c.send_all("HTTP/1.0 200 OK\r\n\r\nx");
    });
    std::string a, b;
    std::thread first([&] { a = exchange(get(origin, "/1")); });
    std::thread second([&] { b = exchange(get(origin, "/2")); });
    first.join();
    second.join();
    EXPECT_EQ(a, "HTTP/1.0 200 OK\r\n\r\nx");
    EXPECT_EQ(b, a);
    wait_idle();
    const std::string text = log.text();
    EXPECT_EQ(count_of(text, " start (1)\n"), 1u);
    EXPECT_EQ(count_of(text, " start (2)\n"), 1u);
    EXPECT_EQ(count_of(text, " end (1) \n"), 1u);
    EXPECT_EQ(count_of(text, " end (0) \n"), 1u);
    EXPECT_LT(text.find(" end (1) "), text.find(" end (0) "));
}

TEST_F(Proxy, FinishedHandlerServesTheNextConnectionWithTheSameLines) {
    Origin origin([](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        c.send_all("HTTP/1.0 200 OK\r\n\r\nx");
    });
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(exchange(get(origin, "/")), "HTTP/1.0 200 OK\r\n\r\nx");
        wait_idle();
    }
    const std::string text = log.text();
    EXPECT_EQ(count_of(text, " start (1)\n"), 3u);
    EXPECT_EQ(count_of(text, " end (0) \n"), 3u);
    // One thread served all three, one after another.
    const auto first = text.find("---- #"), last = text.rfind("---- #");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.substr(first, text.find(' ', first + 5) - first),
              text.substr(last, text.find(' ', last + 5) - last));
}

TEST_F(Proxy, StopFlagEndsTheListenerWithoutAHandler) {
    {
        Raw_Connection b = browser();
        b.shutdown_write();
        b.read_all();
    }
    wait_idle();
    log.clear();
    listener->stop_requested = true;
    Raw_Connection wake = browser();
    listener->wait();
    listener.reset();
    EXPECT_EQ(log.text(), "");
}

TEST_F(Proxy, ListenerSurvivesWhenNoThreadCanBeStarted) {
    // Fill the thread registry so the next handler cannot start.
    struct Parked : Thread {
        std::mutex& m;
        std::condition_variable& cv;
        bool& go;
        Parked(std::mutex& m, std::condition_variable& cv, bool& go) : m(m), cv(cv), go(go) {}
        int run() override {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return go; });
            return 0;
        }
    };
    std::mutex m;
    std::condition_variable cv;
    bool go = false;
    std::vector<std::unique_ptr<Parked>> parked;
    auto let_go = [&] {
        {
            std::lock_guard lock(m);
            go = true;
        }
        cv.notify_all();
    };
    // Destroyed before the parked threads: however the test ends, they end too.
    struct Let_Go {
        std::function<void()> f;
        ~Let_Go() { f(); }
    } guard{let_go};
    while (Thread::live_count() < Thread::max_threads) {
        parked.push_back(std::make_unique<Parked>(m, cv, go));
        try {
            parked.back()->start();
        } catch (const Exception& e) {
            // Reported once the others are gone: the report itself may need a thread.
            const int started = Thread::live_count();
            let_go();
            for (auto& p : parked) p->wait();
            FAIL() << "only " << started << " threads could start: " << e.message();
        }
    }
    const std::string refused = exchange("GET http://127.0.0.1/ HTTP/1.0\r\n\r\n");
    let_go();
    for (auto& p : parked) p->wait();
    EXPECT_TRUE(
        refused.starts_with("HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBF"
                            "too many threads"))
        << refused;
    EXPECT_NE(log.text().find("error in server thread (Exception): too many threads"), std::string::npos);

    Origin origin = answering("HTTP/1.0 200 OK\r\n\r\nstill serving");
    EXPECT_EQ(exchange(get(origin, "/")), "HTTP/1.0 200 OK\r\n\r\nstill serving");
}

TEST(Proxy_Port, TakenPortEndsTheListenerWithBindError) {
    test::start_sockets();
    test::Capture_Stream log;
    window_log = &log;
    // Take the port; if another program holds it already, so much the better.
    std::unique_ptr<Server_Socket> holder;
    try {
        holder = std::make_unique<Server_Socket>(LISTEN_PORT);
    } catch (const Exception&) {
    }
    Proxy_Thread listener;
    listener.start();
    listener.wait();
    window_log = nullptr;
    EXPECT_EQ(log.text(), "error in server thread (Exception): bind失敗\n");
}
