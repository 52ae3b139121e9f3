// CONNECT tunnels through the real listener to a plain TCP origin on loopback
// (the bytes are opaque to the proxy, TLS or not): both directions, either
// side closing first, large transfers both ways at once, and the idle limit.
// Refused tunnels are rows of the proxy's refusal table.

#include <gtest/gtest.h>

#include "proxy_fixture.hpp"

using namespace test;
using proxy::Proxy_Options;

namespace {

std::string pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 2654435761u + seed) >> 11);
    return s;
}

// Reads on from what is already in hand until it holds `size` bytes or the peer closes.
std::string read_to(Raw_Connection& c, std::string have, std::size_t size) {
    while (have.size() < size) {
        const std::string piece = c.read_some();
        if (piece.empty()) break;
        have += piece;
    }
    return have;
}

}  // namespace

class Tunnels : public Proxy_Fixture {
protected:
    // Opens a tunnel to `origin` (allowing its port); what arrived behind the 200 line is left in `after`.
    Raw_Connection open_tunnel(const Origin& origin, std::string* after, std::string_view early = "") {
        const sockets::Port p = origin.port();
        set_options([&](Proxy_Options& o) {
            o.tunnel_ports = {443, p};
            o.idle_limit = o.tunnel_idle_limit = tunnel_idle;
        });
        Raw_Connection b = browser();
        b.send_all("CONNECT 127.0.0.1:" + std::to_string(p) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" +
                   std::string(early));
        const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
        *after = read_to(b, "", established.size());
        EXPECT_TRUE(after->starts_with(established)) << *after;
        after->erase(0, established.size());
        return b;
    }
    std::chrono::milliseconds tunnel_idle = 5s;
};

TEST_F(Tunnels, BothDirectionsAndEitherSideClosingFirst) {
    // The origin speaks first, echoes what it reads, and closes first or last.
    Origin origin([](Raw_Connection& c, Origin& o) {
        c.send_all("hello");
        const std::string got = c.read_until("\n");
        o.record(got);
        c.send_all("echo:" + got);
        if (got == "close first\n") return;
        // The browser ends it: its end arrives here, then a last word goes back.
        o.record(c.read_all());
        c.send_all("bye");
    });
    std::string after;
    {
        Raw_Connection b = open_tunnel(origin, &after);
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
    const std::string text = log.text();
    EXPECT_EQ(count_of(text, " tunnel to 127.0.0.1:" + std::to_string(origin.port()) + "\n"), 2u) << text;
    EXPECT_EQ(count_of(text, " tunnel closed: 12 byte to server, 22 byte to browser\n"), 1u) << text;
    EXPECT_EQ(count_of(text, " tunnel closed: 16 byte to server, 25 byte to browser\n"), 1u) << text;
    EXPECT_EQ(errors.text(), "");
}

TEST_F(Tunnels, LargeTransfersBothWaysAtOnce) {
    // The browser sends its whole upload before it reads, while the origin
    // sends its whole answer: a tunnel that blocks on either side stalls both.
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
            got = read_to(c, "", up.size());
        } catch (...) {
        }
        writer.join();
        o.record(got == up ? "same" : "different");
    });
    tunnel_idle = 3s;  // a stalled tunnel ends soon enough for the test to report it
    std::string got;
    Raw_Connection b = open_tunnel(origin, &got);
    EXPECT_NO_THROW(b.send_all(up));
    try {
        got = read_to(b, got, down.size());
    } catch (...) {
    }
    EXPECT_TRUE(got == down) << got.size();
    b.close();
    wait_idle();
    EXPECT_EQ(origin.requests(), std::vector<std::string>{"same"});
}

TEST_F(Tunnels, IdleTunnelIsClosed) {
    Origin origin([](Raw_Connection& c, Origin&) { c.read_all(); });
    tunnel_idle = 300ms;
    std::string after;
    Raw_Connection b = open_tunnel(origin, &after);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(b.read_all(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    wait_idle();
    EXPECT_EQ(count_of(log.text(), " tunnel idle for 0.3 s\n"), 1u) << log.text();
}
