// CONNECT tunnels through the real listener to a plain TCP origin on
// loopback (the bytes are opaque to the proxy, TLS or not): both directions,
// either side closing first, large transfers both ways at once, refusals and
// the idle limit.

#include <gtest/gtest.h>

#include <thread>

#include "proxy_fixture.hpp"

using proxy::Proxy_Options;
using sockets::Port;

using namespace std::chrono_literals;
using test::count_of;
using test::Origin;
using test::Raw_Connection;

namespace {

const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
const std::string refusal_head = "HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBF";

std::string connect_line(Port port) { return "CONNECT 127.0.0.1:" + std::to_string(port) + " HTTP/1.1\r\n"; }

// Reads on from what is already in hand until `marker` is in it.
std::string read_on(Raw_Connection& b, std::string have, std::string_view marker) {
    while (have.find(marker) == std::string::npos) {
        const std::string piece = b.read_some();
        if (piece.empty()) break;
        have += piece;
    }
    return have;
}

std::string pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 2654435761u + seed) >> 11);
    return s;
}

}  // namespace

class Tunnels : public test::Proxy_Fixture {
protected:
    // Opens a tunnel to `origin`; returns the connection after the 200 line.
    // What the origin sent right behind that line is left in `after`.
    Raw_Connection open_tunnel(const Origin& origin, std::string_view early = "", std::string* after = nullptr) {
        Raw_Connection b = browser();
        b.send_all(connect_line(origin.port()) + "Host: 127.0.0.1\r\n\r\n" + std::string(early));
        const std::string got = b.read_until("\r\n\r\n");
        EXPECT_TRUE(got.starts_with(established)) << got;
        if (after) *after = got.substr(std::min(got.size(), established.size()));
        return b;
    }
    void allow(const Origin& origin) {
        const Port p = origin.port();
        set_options([p](Proxy_Options& o) { o.tunnel_ports = {443, p}; });
    }
};

TEST_F(Tunnels, BothDirectionsAndEitherSideClosingFirst) {
    // The origin speaks first, echoes what it reads, and closes first or last.
    Origin origin([](Raw_Connection& c, Origin& o) {
        c.send_all("hello");
        const std::string got = c.read_until("\n");
        o.record(got);
        c.send_all("echo:" + got);
        if (got == "close first\n") return;  // the origin ends the tunnel
        // The browser ends it: its end arrives here, then a last word goes back.
        std::string rest = c.read_all();
        o.record(rest);
        c.send_all("bye");
    });
    allow(origin);
    std::string after;
    {
        Raw_Connection b = open_tunnel(origin, "", &after);
        EXPECT_EQ(read_on(b, after, "hello"), "hello");
        b.send_all("close first\n");
        EXPECT_EQ(b.read_all(), "echo:close first\n");
    }
    {
        Raw_Connection b = open_tunnel(origin, "early ", &after);  // sent before the 200 arrived
        EXPECT_EQ(read_on(b, after, "hello"), "hello");
        b.send_all("bytes\n");
        EXPECT_EQ(b.read_until("\n"), "echo:early bytes\n");
        b.send_all("tail");
        b.shutdown_write();
        EXPECT_EQ(b.read_all(), "bye");
    }
    wait_idle();
    EXPECT_EQ(origin.requests(), (std::vector<std::string>{"close first\n", "early bytes\n", "tail"}));
    const std::string text = log.text();
    EXPECT_EQ(count_of(text, " tunnel to 127.0.0.1:" + std::to_string(origin.port()) + "\n"), 2u) << text;
    EXPECT_EQ(count_of(text, " tunnel closed: 12 byte to server, 22 byte to browser\n"), 1u) << text;
    EXPECT_EQ(count_of(text, " tunnel closed: 16 byte to server, 25 byte to browser\n"), 1u) << text;
    EXPECT_EQ(errors.text(), "");
}

TEST_F(Tunnels, LargeTransfersBothWaysAtOnce) {
    // The browser sends its whole upload before it reads anything, while the
    // origin sends its whole answer: a tunnel that blocks on either side
    // stalls both until its idle limit.
    const std::string up = pattern(32 << 20, 1), down = pattern(32 << 20, 2);  // past what socket buffers hold
    Origin origin([&](Raw_Connection& c, Origin& o) {
        std::thread writer([&] {
            try {
                c.send_all(down);
            } catch (...) {
            }
        });
        std::string got;
        try {
            while (got.size() < up.size()) {
                const std::string piece = c.read_some();
                if (piece.empty()) break;
                got += piece;
            }
        } catch (...) {
        }
        writer.join();
        o.record(got == up ? "same" : "different");
    });
    const Port p = origin.port();
    set_options([p](Proxy_Options& o) {
        o.tunnel_ports = {p};
        // A stalled tunnel (or a send stuck on a full buffer) ends soon
        // enough for the test to report it.
        o.tunnel_idle_limit = 3s;
        o.idle_limit = 3s;
    });
    std::string got;
    Raw_Connection b = open_tunnel(origin, "", &got);
    EXPECT_NO_THROW(b.send_all(up));
    try {
        while (got.size() < down.size()) {
            const std::string piece = b.read_some();
            if (piece.empty()) break;
            got += piece;
        }
    } catch (...) {
    }
    EXPECT_TRUE(got == down) << got.size();
    b.close();
    wait_idle();
    EXPECT_EQ(origin.requests(), std::vector<std::string>{"same"});
}

TEST_F(Tunnels, RefusedPortsSettingsAndFailures) {
    Origin origin([](Raw_Connection& c, Origin&) { c.send_all("should not be reached"); });
    const Port refused = test::unused_port();
    struct Case {
        const char* what;
        std::function<void(Proxy_Options&)> options;
        std::string request_line, message;
    };
    const Port open = origin.port();
    const Case cases[] = {
        {"port not listed", [](Proxy_Options&) {}, connect_line(open), "未対応リクエスト: " + connect_line(open)},
        {"tunnels off", [open](Proxy_Options& o) { o.tunnels = false, o.tunnel_ports = {open}; }, connect_line(open),
         "未対応リクエスト: " + connect_line(open)},
        {"no port", [](Proxy_Options&) {}, "CONNECT 127.0.0.1 HTTP/1.1\r\n",
         "未対応リクエスト: CONNECT 127.0.0.1 HTTP/1.1\r\n"},
        {"port out of range", [](Proxy_Options&) {}, "CONNECT h:70000 HTTP/1.1\r\n",
         "未対応リクエスト: CONNECT h:70000 HTTP/1.1\r\n"},
        {"nothing listens", [refused](Proxy_Options& o) { o.tunnel_ports = {refused}; }, connect_line(refused),
         "サーバへの接続失敗"},
    };
    for (const auto& c : cases) {
        set_options(c.options);
        errors.clear();
        EXPECT_EQ(exchange(c.request_line + "\r\n"), refusal_head + c.message) << c.what;
        wait_idle();
        EXPECT_NE(errors.text().find(c.message + " (Exception)\r\n"), std::string::npos) << c.what;
    }
}

TEST_F(Tunnels, IdleTunnelIsClosed) {
    Origin origin([](Raw_Connection& c, Origin&) { c.read_all(); });
    const Port p = origin.port();
    set_options([p](Proxy_Options& o) {
        o.tunnel_ports = {p};
        o.tunnel_idle_limit = 300ms;
    });
    Raw_Connection b = open_tunnel(origin);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(b.read_all(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    wait_idle();
    EXPECT_EQ(count_of(log.text(), " tunnel idle for 0.3 s\n"), 1u) << log.text();
}
