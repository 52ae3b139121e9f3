// Handlers and their limits: counting and reuse, the stop flag, the taken
// port, time limits, the thread limit and the allowed clients: what a silent,
// slow or hostile peer can do to the proxy.

#include <gtest/gtest.h>

#include <future>

#include "base/exception.hpp"
#include "base/thread.hpp"
#include "proxy_fixture.hpp"
#include "socket/socket.hpp"

using namespace test;
using base::Thread;
using proxy::Client_Range;
using proxy::Proxy_Options;

namespace {

using Clock = std::chrono::steady_clock;

std::string get(const Origin& origin, std::string_view path) {
    return "GET " + origin.url(path) + " HTTP/1.1\r\nHost: x\r\n\r\n";
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Holds every free slot of the thread registry but `spare`, until destroyed.
class Thread_Hog {
public:
    explicit Thread_Hog(int spare) {
        while (Thread::live_count() < Thread::max_threads - spare)
            parked_.emplace_back(std::make_unique<Parked>(go_future_))->start();
    }
    ~Thread_Hog() {
        go_.set_value();
        for (auto& p : parked_) p->wait();
    }

private:
    struct Parked : Thread {
        explicit Parked(std::shared_future<void> go) : go(std::move(go)) {}
        int run() override { return go.wait(), 0; }
        std::shared_future<void> go;
    };
    std::promise<void> go_;
    std::shared_future<void> go_future_ = go_.get_future().share();
    std::vector<std::unique_ptr<Parked>> parked_;
};

}  // namespace

class Limits : public Proxy_Fixture {};

TEST_F(Limits, HandlersCountThemselvesAndServeTheNextConnection) {
    std::atomic<int> waiting{0};
    Origin origin([&](Raw_Connection& c, Origin& o) {
        const bool pair = o.read_request(c).find("/pair") != std::string::npos;
        ++waiting;
        for (int i = 0; pair && i < 500 && waiting < 2; ++i) std::this_thread::sleep_for(10ms);  // both run now
        c.send_all("HTTP/1.0 200 OK\r\n\r\nx");
    });
    std::string a;
    std::thread first([&] { a = exchange(get(origin, "/pair")); });
    EXPECT_EQ(exchange(get(origin, "/pair")), "HTTP/1.0 200 OK\r\n\r\nx");
    first.join();
    EXPECT_EQ(a, "HTTP/1.0 200 OK\r\n\r\nx");
    wait_idle();
    std::string text = log.text();
    EXPECT_EQ(count_of(text, " start (2)\n"), 1u);
    EXPECT_EQ(count_of(text, " end (1) \n"), 1u);
    EXPECT_LT(text.find(" end (1) "), text.find(" end (0) "));
    // One after another, a finished handler serves the next connection.
    log.clear();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(exchange(get(origin, "/")), "HTTP/1.0 200 OK\r\n\r\nx");
        wait_idle();
    }
    text = log.text();
    EXPECT_EQ(count_of(text, " start (1)\n"), 2u);
    const auto last = text.rfind("---- #");
    EXPECT_TRUE(text.starts_with(text.substr(last, text.find(' ', last + 5) - last + 1))) << text;

    // The stop flag ends the listener; the connection that wakes it gets no handler.
    log.clear();
    listener->stop_requested = true;
    Raw_Connection wake = browser();
    listener->wait();
    listener.reset();
    EXPECT_EQ(log.text(), "");
}

TEST(Proxy_Port, TakenPortEndsTheListenerWithBindError) {
    start_sockets();
    Capture_Stream log;
    base::window_log = &log;
    // Take the port; if another program holds it already, so much the better.
    std::unique_ptr<sockets::Server_Socket> holder;
    try {
        holder = std::make_unique<sockets::Server_Socket>(proxy::LISTEN_PORT);
    } catch (const base::Exception&) {
    }
    proxy::Proxy_Thread listener;
    listener.start();
    listener.wait();
    base::window_log = nullptr;
    EXPECT_EQ(log.text(), "error in server thread (Exception): bind失敗\n");
}

TEST_F(Limits, SilentOrTricklingBrowserIsClosedAtTheHeadLimit) {
    set_options([](Proxy_Options& o) { o.head_limit = 400ms; });
    const auto start = Clock::now();
    Raw_Connection silent = browser();
    EXPECT_EQ(silent.read_all(), "");
    EXPECT_GE(seconds_since(start), 0.35);
    // One byte every 100 ms never completes a head: the limit is for the whole head, not for each read.
    Raw_Connection trickle = browser();
    const std::string request = "GET http://127.0.0.1/ HTTP/1.0\r\n";
    std::size_t sent = 0;
    for (; sent < request.size() && !trickle.readable_within(100); ++sent) trickle.send_all(request.substr(sent, 1));
    EXPECT_LT(sent, 10u);  // closed at the limit, long before the last byte
    EXPECT_EQ(trickle.read_all(), "");
    wait_idle();
    EXPECT_EQ(count_of(log.text(), " no request within 0.4 s: closed\n"), 2u) << log.text();
    EXPECT_EQ(errors.text(), "");
    // Less than a millisecond left is no time left, never a wait without limit.
    set_options([](Proxy_Options& o) { o.head_limit = 0ms; });
    EXPECT_EQ(browser().read_all(), "");
}

TEST_F(Limits, BrowserThatStopsReadingIsLetGo) {
    set_options([](Proxy_Options& o) { o.idle_limit = 300ms; });
    std::atomic<bool> done{false};
    Origin origin([&](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        try {
            c.send_all("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n");
            for (int i = 0; i < 256 && !done; ++i) c.send_all(std::string(1 << 20, 'z'));
        } catch (...) {
            // The proxy closed the exchange: expected.
        }
    });
    Raw_Connection b = browser();
    b.send_all(get(origin, "/big"));
    for (int i = 0; i < 500 && count_of(log.text(), " start (") == 0; ++i) std::this_thread::sleep_for(10ms);
    wait_idle();
    done = true;
    EXPECT_NE(errors.text().find("send timed out"), std::string::npos) << errors.text();
}

TEST_F(Limits, OversizedHeadIsAnsweredAndTheBrowserReadsTheWholeAnswer) {
    // Like curl, the browser sends its whole request before it reads: more
    // than the socket buffers hold is still on its way when the proxy refuses,
    // and without a drain the close would be a reset that loses the answer.
    std::string request = "GET http://127.0.0.1/ HTTP/1.0\r\n";
    while (request.size() < (800u << 10)) request += "X-Filler: " + std::string(1000, 'f') + "\r\n";
    Raw_Connection b = browser();
    EXPECT_NO_THROW(b.send_all(request));
    std::string answer;
    EXPECT_NO_THROW(answer = b.read_all());
    EXPECT_EQ(answer, refusal_head + "request header too large (over 65536 bytes)");
}

TEST_F(Limits, PastTheThreadLimitConnectionsAreRefusedAndServiceRecovers) {
    set_options([](Proxy_Options& o) { o.head_limit = 600ms; });
    Origin origin = answering("HTTP/1.0 200 OK\r\n\r\nserved");
    std::vector<Raw_Connection> idle;
    {
        Thread_Hog hog(2);
        // Two get a handler each and hold it; the next is refused at once.
        for (int i = 0; i < 2; ++i) idle.push_back(browser());
        for (int i = 0; i < 20 && Thread::live_count() < Thread::max_threads; ++i) std::this_thread::sleep_for(10ms);
        const auto start = Clock::now();
        Raw_Connection late = browser();
        // A body the proxy never reads, sent whole before reading: the answer must still arrive.
        EXPECT_NO_THROW(late.send_all("POST " + origin.url("/") + " HTTP/1.1\r\nContent-Length: 800000\r\n\r\n" +
                                      std::string(800000, 'p')));
        std::string answer;
        EXPECT_NO_THROW(answer = late.read_all());
        EXPECT_TRUE(answer.starts_with(refusal_head + "too many threads")) << answer;
        EXPECT_LT(seconds_since(start), 0.5);
        EXPECT_NE(log.text().find("error in server thread (Exception): too many threads"), std::string::npos);
    }
    // The idle two hold their handlers until the head limit; then service resumes by itself.
    for (auto& c : idle) EXPECT_EQ(c.read_all(), "");
    EXPECT_EQ(exchange(get(origin, "/after")), "HTTP/1.0 200 OK\r\n\r\nserved");
}

TEST_F(Limits, AllowedClientsAreHonoured) {
    Origin origin = answering("HTTP/1.0 200 OK\r\n\r\nok");
    auto from = [&](const char* address) {
        Raw_Connection b = browser(address);
        try {
            b.send_all(get(origin, "/"));
            return b.read_all();
        } catch (...) {
            return std::string("(closed)");
        }
    };
    struct Case {
        std::vector<Client_Range> allowed;
        bool first, second;  // served from 127.0.0.1, from 127.0.0.2
    };
    const Case cases[] = {
        {{}, true, true},                                    // no list: everyone
        {{{0x7F000001, 32}}, true, false},                   // one address
        {{{0x7F000000, 8}}, true, true},                     // a prefix holding both
        {{{0x7F000002, 32}, {0x0A000000, 8}}, false, true},  // a list
        {{{0x7F000001, 31}}, true, false},                   // /31 = .0 and .1
    };
    for (const auto& c : cases) {
        set_options([&](Proxy_Options& o) { o.allowed_clients = c.allowed; });
        log.clear();
        EXPECT_EQ(from("127.0.0.1") == "HTTP/1.0 200 OK\r\n\r\nok", c.first);
        EXPECT_EQ(from("127.0.0.2") == "HTTP/1.0 200 OK\r\n\r\nok", c.second);
        wait_idle();
        EXPECT_EQ(count_of(log.text(), " refused: not in allowed_clients\n"), !c.first + !c.second) << log.text();
        EXPECT_EQ(count_of(log.text(), "connection from 127.0.0.2 refused"), !c.second) << log.text();
    }
}
