// Time limits, refusals that reach the browser, the thread limit and the
// allowed clients: what a silent, slow or hostile peer can do to the proxy.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "base/thread.hpp"
#include "proxy_fixture.hpp"

using base::Thread;

using proxy::Client_Range;
using proxy::Proxy_Options;

using namespace std::chrono_literals;
using test::count_of;
using test::Origin;
using test::Raw_Connection;

namespace {

using Clock = std::chrono::steady_clock;

std::string get(const Origin& origin, std::string_view path) {
    return "GET " + origin.url(path) + " HTTP/1.1\r\nHost: x\r\n\r\n";
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Holds every free slot of the thread registry but `spare`, until released.
class Thread_Hog {
public:
    explicit Thread_Hog(int spare) {
        while (Thread::live_count() < Thread::max_threads - spare) {
            parked_.push_back(std::make_unique<Parked>(*this));
            parked_.back()->start();
        }
    }
    ~Thread_Hog() {
        {
            std::lock_guard lock(m_);
            go_ = true;
        }
        cv_.notify_all();
        for (auto& p : parked_) p->wait();
    }

private:
    struct Parked : Thread {
        Thread_Hog& hog;
        explicit Parked(Thread_Hog& hog) : hog(hog) {}
        int run() override {
            std::unique_lock lock(hog.m_);
            hog.cv_.wait(lock, [&] { return hog.go_; });
            return 0;
        }
    };
    std::mutex m_;
    std::condition_variable cv_;
    bool go_ = false;
    std::vector<std::unique_ptr<Parked>> parked_;
};

const std::string refusal_head = "HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBF";

}  // namespace

class Limits : public test::Proxy_Fixture {};

TEST_F(Limits, SilentOrTricklingBrowserIsClosedAtTheHeadLimit) {
    set_options([](Proxy_Options& o) { o.head_limit = 400ms; });
    // Silent: closed (no answer) once the limit has passed.
    const auto start = Clock::now();
    Raw_Connection silent = browser();
    EXPECT_EQ(silent.read_all(), "");
    EXPECT_GE(seconds_since(start), 0.35);
    EXPECT_LT(seconds_since(start), 3.0);

    // Trickling: one byte every 100 ms never completes a head; the limit is
    // for the whole head, not for each read.
    Raw_Connection trickle = browser();
    const auto trickle_start = Clock::now();
    std::string request = "GET http://127.0.0.1/ HTTP/1.0\r\n";
    bool closed = false;
    for (std::size_t i = 0; i < request.size() && !closed; ++i) {
        try {
            trickle.send_all(request.substr(i, 1));
        } catch (...) {
            closed = true;
        }
        if (trickle.readable_within(100)) closed = trickle.read_some().empty();
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(seconds_since(trickle_start), 2.0);
    wait_idle();
    EXPECT_EQ(count_of(log.text(), " no request within 0.4 s: closed\n"), 2u) << log.text();
    EXPECT_EQ(errors.text(), "");
}

TEST_F(Limits, StalledOriginEndsTheExchangeAtTheIdleLimit) {
    set_options([](Proxy_Options& o) { o.idle_limit = 300ms; });
    std::atomic<bool> done{false};
    Origin origin([&](Raw_Connection& c, Origin& o) {
        const std::string head = o.read_request(c);
        // /partial announces 1000 bytes and sends 6; /silent sends nothing.
        if (head.find("/partial") != std::string::npos)
            c.send_all("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1000\r\n\r\nabcdef");
        // Held open until the test ends, or at most 10 s should it end early.
        for (int i = 0; i < 1000 && !done; ++i) std::this_thread::sleep_for(10ms);
    });
    struct Case {
        std::string path, answer;
    };
    const Case cases[] = {
        // Nothing reached the browser: it gets the 500 answer.
        {"/silent", refusal_head + "no byte moved for 0.3 s (receive timed out)"},
        // Part of the page did: the connection just closes, no text is appended.
        {"/partial", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1000\r\n\r\nabcdef"},
    };
    for (const auto& c : cases) {
        errors.clear();
        const auto start = Clock::now();
        EXPECT_EQ(exchange(get(origin, c.path)), c.answer);
        EXPECT_LT(seconds_since(start), 3.0);
        wait_idle();
        EXPECT_NE(errors.text().find("no byte moved for 0.3 s (receive timed out) (Exception)\r\n"), std::string::npos)
            << errors.text();
    }
    done = true;
    EXPECT_EQ(count_of(log.text(), " nothing moved for 0.3 s: receive timed out\n"), 2u) << log.text();
}

TEST_F(Limits, BrowserThatStopsReadingIsLetGo) {
    // The origin sends far more than the socket buffers hold; the browser reads nothing.
    set_options([](Proxy_Options& o) { o.idle_limit = 300ms; });
    std::atomic<bool> done{false};
    Origin origin([&](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        const std::string chunk(1 << 20, 'z');
        try {
            c.send_all("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n");
            for (int i = 0; i < 256 && !done; ++i) c.send_all(chunk);
        } catch (...) {
            // The proxy closed the exchange: expected.
        }
    });
    Raw_Connection b = browser();
    b.send_all(get(origin, "/big"));
    const auto start = Clock::now();
    for (int i = 0; i < 500 && count_of(log.text(), " start (") == 0; ++i) std::this_thread::sleep_for(10ms);
    wait_idle();
    EXPECT_LT(seconds_since(start), 5.0);
    done = true;
    EXPECT_NE(errors.text().find("send timed out"), std::string::npos) << errors.text();
}

TEST_F(Limits, OversizedHeadIsAnsweredAndTheBrowserReadsTheWholeAnswer) {
    // Like curl, the browser sends its whole request before it reads. More
    // than the socket buffers hold is still on its way when the proxy
    // refuses: without the drain the close would be a reset, the send would
    // fail, and the answer would never be read.
    const std::string filler = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    std::string request = "GET http://127.0.0.1/ HTTP/1.0\r\n";
    while (request.size() < (800u << 10)) request += filler;
    for (int round = 0; round < 3; ++round) {
        Raw_Connection b = browser();
        // In pieces, as a client writes from its own buffer.
        for (std::size_t at = 0; at < request.size(); at += 16384) {
            ASSERT_NO_THROW(b.send_all(request.substr(at, 16384))) << "at " << at;
            std::this_thread::sleep_for(1ms);
        }
        std::string answer;
        EXPECT_NO_THROW(answer = b.read_all());
        EXPECT_EQ(answer, refusal_head + "request header too large (over 65536 bytes)");
    }
}

TEST_F(Limits, FloodOfIdleConnectionsPastTheThreadLimitRecoversByItself) {
    set_options([](Proxy_Options& o) { o.head_limit = 600ms; });
    Origin origin([](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        c.send_all("HTTP/1.0 200 OK\r\n\r\nserved");
    });
    std::vector<Raw_Connection> idle;
    {
        Thread_Hog hog(6);
        // Six get a handler each and hold it; the rest are refused at once.
        for (int i = 0; i < 6; ++i) idle.push_back(browser());
        for (int i = 0; i < 20 && Thread::live_count() < Thread::max_threads; ++i) std::this_thread::sleep_for(10ms);
        const auto start = Clock::now();
        for (int i = 0; i < 4; ++i) {
            Raw_Connection late = browser();
            // A request with a body the proxy never reads, sent whole before
            // reading: the answer must still arrive.
            EXPECT_NO_THROW(late.send_all("POST " + origin.url("/") + " HTTP/1.1\r\nContent-Length: 800000\r\n\r\n" +
                                          std::string(800000, 'p')));
            std::string answer;
            EXPECT_NO_THROW(answer = late.read_all());
            EXPECT_TRUE(answer.starts_with(refusal_head + "too many threads")) << answer;
        }
        EXPECT_LT(seconds_since(start), 0.5 * 4);
    }
    // The registry is free again, but the idle six still hold theirs until
    // the head limit: after it, service resumes without anyone's help.
    std::this_thread::sleep_for(700ms);
    for (auto& c : idle) EXPECT_EQ(c.read_all(), "");
    EXPECT_EQ(exchange(get(origin, "/after")), "HTTP/1.0 200 OK\r\n\r\nserved");
}

TEST_F(Limits, AllowedClientsAreHonoured) {
    Origin origin([](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        c.send_all("HTTP/1.0 200 OK\r\n\r\nok");
    });
    auto from = [&](const char* address) {
        Raw_Connection b;
        for (int i = 0; !b.is_open(); ++i) {
            try {
                b = test::connect_from(address, port);
            } catch (...) {
                if (i == 200) throw;  // the listener is still starting
                std::this_thread::sleep_for(10ms);
            }
        }
        try {
            b.send_all(get(origin, "/"));
        } catch (...) {
            return std::string("(closed)");
        }
        try {
            return b.read_all();
        } catch (...) {
            return std::string("(reset)");
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
        const std::string one = from("127.0.0.1"), two = from("127.0.0.2");
        EXPECT_EQ(one == "HTTP/1.0 200 OK\r\n\r\nok", c.first) << one;
        EXPECT_EQ(two == "HTTP/1.0 200 OK\r\n\r\nok", c.second) << two;
        wait_idle();
        const std::size_t refusals = (c.first ? 0 : 1) + (c.second ? 0 : 1);
        EXPECT_EQ(count_of(log.text(), " refused: not in allowed_clients\n"), refusals) << log.text();
        if (!c.second) {
            EXPECT_NE(log.text().find("connection from 127.0.0.2 refused"), std::string::npos);
        }
    }
}

TEST_F(Limits, FailuresAfterConnectingCloseTheOriginAndKeepTheListener) {
    // An origin that resets mid-answer, and a filter that runs out of memory:
    // each fails its own exchange only, with the close and error lines.
    Origin origin([](Raw_Connection& c, Origin& o) {
        const std::string head = o.read_request(c);
        if (head.find("/reset") != std::string::npos) {
            c.send_all("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 100\r\n\r\npart");
            std::this_thread::sleep_for(50ms);
            c.abort();
            return;
        }
        c.send_all("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>");
    });
    filter = [](std::string_view target, std::string body) -> std::string {
        if (target.ends_with("/huge")) throw std::bad_alloc();
        return body;
    };
    struct Case {
        std::string path, error;
    };
    const Case cases[] = {{"/reset", "受信失敗"}, {"/huge", "std::bad_alloc (OutOfMemory)"}};
    for (const auto& c : cases) {
        log.clear();
        errors.clear();
        exchange(get(origin, c.path));
        wait_idle();
        EXPECT_EQ(count_of(log.text(), " close\n"), 1u) << c.path << log.text();
        EXPECT_NE(errors.text().find(c.error), std::string::npos) << c.path << errors.text();
    }
    EXPECT_EQ(exchange(get(origin, "/page")), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>");
}
