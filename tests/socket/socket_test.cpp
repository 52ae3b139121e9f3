#include "socket/socket.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/exception.hpp"
#include "loopback.hpp"

using base::Exception;

using sockets::Address;
using sockets::Client_Socket;
using sockets::Port;
using sockets::resolve;
using sockets::Server_Socket;
using sockets::Socket;
using sockets::Socket_Timeout;
using sockets::Socket_Wait;
using sockets::wait_for;
using sockets::wait_readable;

namespace {

using namespace std::chrono_literals;

constexpr Address loopback_address = 0x0100007F;  // 127.0.0.1 in network order on a little-endian machine

template <class F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.message();
    }
    return "(no error)";
}

// A connected pair: our Client_Socket and the raw peer the listener accepted.
struct Pair {
    test::Raw_Listener listener;
    std::unique_ptr<Client_Socket> client;
    test::Raw_Connection peer;
    Pair() {
        client = std::make_unique<Client_Socket>(resolve("127.0.0.1"), listener.port());
        // A read that never returns fails the test instead of holding it.
        client->set_receive_timeout(5s);
        peer = listener.accept();
    }
};

}  // namespace

TEST(Resolve, DottedTextNamesAndFailures) {
    test::start_sockets();
    EXPECT_EQ(resolve("127.0.0.1"), loopback_address);
    EXPECT_EQ(resolve("localhost"), loopback_address);
    EXPECT_EQ(error_of([] { resolve("no-such-host.invalid"); }), "ホストアドレス取得失敗");
}

TEST(Receive_All, StopsAtTheFirstShortChunk) {
    struct Case {
        std::size_t first_burst;
        std::size_t later_burst;  // sent after a pause, then the peer closes
        std::size_t expected;
    };
    // 4095 pending: one short read ends it, the later bytes stay unread.
    // 4096 pending: a full chunk reads again and waits for the later bytes.
    // 10000 pending: 4096 + 4096 + 1808.
    const Case cases[] = {{4095, 10, 4095}, {4096, 10, 4106}, {10000, 0, 10000}, {0, 0, 0}};
    for (const auto& c : cases) {
        Pair p;
        p.peer.send_all(std::string(c.first_burst, 'a'));
        if (c.first_burst == 0) p.peer.close();
        std::this_thread::sleep_for(100ms);  // let the burst arrive whole
        std::thread later([&] {
            std::this_thread::sleep_for(200ms);
            if (c.later_burst) p.peer.send_all(std::string(c.later_burst, 'b'));
            p.peer.close();
        });
        EXPECT_EQ(p.client->receive_all().size(), c.expected) << "first burst " << c.first_burst;
        later.join();
    }
}

TEST(Socket, CloseTwiceAndEmptySendOnAClosedSocket) {
    Pair p;
    p.client->close();
    EXPECT_FALSE(p.client->is_open());
    p.client->close();
    EXPECT_NO_THROW(p.client->send(""));
    // Operations on a closed handle fail with the system's error.
    EXPECT_EQ(error_of([&] { p.client->send("x"); }).rfind("送信失敗", 0), 0u);
    char buffer[16];
    EXPECT_EQ(error_of([&] { p.client->receive(buffer); }).rfind("受信失敗", 0), 0u);
    EXPECT_EQ(p.peer.read_all(), "");  // the peer sees the orderly end
}

TEST(Socket, ConnectAndBindFailures) {
    test::start_sockets();
    const Port free_port = test::unused_port();
    EXPECT_EQ(error_of([&] { Client_Socket c(resolve("127.0.0.1"), free_port); }), "サーバへの接続失敗");

    Server_Socket first(free_port);
    EXPECT_EQ(error_of([&] { Server_Socket second(free_port); }), "bind失敗");
}

TEST(Server_Socket, AcceptsAndTalksBothWays) {
    test::start_sockets();
    const Port port = test::unused_port();
    Server_Socket server(port);
    test::Raw_Connection browser = test::connect_to(port);
    auto connection = server.accept();
    browser.send_all("ping");
    char buffer[16];
    EXPECT_EQ(std::string(buffer, connection->receive(buffer)), "ping");
    connection->send("pong");
    connection->close();
    EXPECT_EQ(browser.read_all(), "pong");
}

TEST(Socket, LargeSendIsTakenWhole) {
    Pair p;
    std::string data(16 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 % 251);
    std::string received;
    std::thread reader([&] {
        // A slow reader makes the system take the data in many parts.
        for (;;) {
            std::string piece = p.peer.read_some(1 << 16);
            if (piece.empty()) break;
            received += piece;
            if (received.size() < (1 << 20)) std::this_thread::sleep_for(1ms);
        }
    });
    p.client->send(data);
    p.client->close();
    reader.join();
    EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
}

TEST(Socket, SendToAResetPeerNamesTheErrorCode) {
    Pair p;
    p.peer.abort();
    std::this_thread::sleep_for(50ms);
    std::string message;
    for (int i = 0; i < 100 && message.empty(); ++i)
        message = error_of([&] { p.client->send(std::string(65536, 'x')); });
    ASSERT_NE(message, "(no error)");
    const std::string prefix = "送信失敗";
    ASSERT_EQ(message.rfind(prefix, 0), 0u) << message;
    const std::string code = message.substr(prefix.size());
    EXPECT_TRUE(!code.empty() && code.find_first_not_of("0123456789") == std::string::npos) << message;
}

TEST(Server_Socket, BurstOfConnectionsWaitsInTheQueue) {
    // Nobody accepts for now: a short listen queue would drop the later
    // connection attempts, which the system then retries a second later.
    test::start_sockets();
    const Port port = test::unused_port();
    Server_Socket server(port);
    std::vector<test::Raw_Connection> burst;
    std::atomic<bool> finished{false};
    std::thread connector([&] {
        try {
            for (int i = 0; i < 60; ++i) burst.push_back(test::connect_to(port));
        } catch (...) {
        }
        finished = true;
    });
    for (int i = 0; i < 90 && !finished; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(finished);
    EXPECT_EQ(server.accept()->peer(), loopback_address);
    server.close();  // a connect still waiting is refused on its next try
    connector.join();
    EXPECT_EQ(burst.size(), 60u);
}

TEST(Socket, TimeLimitsEndWaitsThatWouldNotEnd) {
    Pair p;
    char buffer[64];
    p.client->set_receive_timeout(200ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(p.client->receive(buffer), Socket_Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    // A send that finds no room (the peer reads nothing) gives up too.
    p.client->set_send_timeout(200ms);
    start = std::chrono::steady_clock::now();
    EXPECT_THROW(for (int i = 0; i < 1000; ++i) p.client->send(std::string(1 << 20, 'x')), Socket_Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(Socket, WaitingOnSeveralAndNonBlockingTransfers) {
    Pair a, b;
    Socket_Wait waits[] = {{a.client.get(), true, false}, {b.client.get(), true, true}};
    // b has room to send at once; nothing to read anywhere yet.
    EXPECT_EQ(wait_for(waits, 100ms), 1u);
    EXPECT_FALSE(waits[0].readable);
    EXPECT_FALSE(waits[1].readable);
    EXPECT_TRUE(waits[1].writable);
    waits[1].write = false;
    EXPECT_EQ(wait_for(waits, 50ms), 0u);  // time is up

    a.peer.send_all("data");
    EXPECT_EQ(wait_for(waits, 2000ms), 1u);
    EXPECT_TRUE(waits[0].readable);
    a.client->set_blocking(false);
    char buffer[16];
    EXPECT_EQ(a.client->receive_some(buffer), std::optional<std::size_t>(4));
    EXPECT_EQ(a.client->receive_some(buffer), std::nullopt);  // nothing more yet
    a.peer.close();
    bool ready[1];
    Socket* sockets[] = {a.client.get()};
    EXPECT_EQ(wait_readable(sockets, ready, 2000ms), 1u);  // the end counts
    EXPECT_EQ(a.client->receive_some(buffer), std::optional<std::size_t>(0));

    // A non-blocking send takes what fits and says how much.
    b.client->set_blocking(false);
    std::size_t taken = 0;
    const std::string big(1 << 20, 'y');
    for (int i = 0; i < 200; ++i) {
        const std::size_t n = b.client->send_some(big);
        if (n == 0) break;
        taken += n;
    }
    EXPECT_GT(taken, 0u);
    EXPECT_EQ(b.client->send_some(big), 0u);
    EXPECT_EQ(b.client->bytes_sent(), taken);
}
