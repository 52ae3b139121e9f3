#include "socket/socket.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/exception.hpp"
#include "loopback.hpp"

using namespace sockets;
using namespace std::chrono_literals;

namespace {

constexpr Address loopback_address = 0x0100007F;  // 127.0.0.1 in network order on a little-endian machine

template <class F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const base::Exception& e) {
        return e.message();
    }
    return "(no error)";
}

// A connected pair: our Client_Socket and the raw peer the listener accepted.
struct Pair {
    test::Raw_Listener listener;
    Client_Socket client{resolve("127.0.0.1"), listener.port()};
    test::Raw_Connection peer = listener.accept();
    Pair() { client.set_receive_timeout(5s); }  // a read that never returns fails the test
};

}  // namespace

TEST(Socket, ResolveConnectBindAndAcceptFailures) {
    test::start_sockets();
    EXPECT_EQ(resolve("localhost"), loopback_address);
    EXPECT_EQ(error_of([] { resolve("no-such-host.invalid"); }), "ホストアドレス取得失敗");
    const Port port = test::unused_port();
    EXPECT_EQ(error_of([&] { Client_Socket c(loopback_address, port); }), "サーバへの接続失敗");
    Server_Socket server(port);
    EXPECT_EQ(error_of([&] { Server_Socket second(port); }), "bind失敗");
    // A burst of connections nobody accepts yet waits in the queue instead of being dropped.
    std::vector<test::Raw_Connection> burst;
    for (int i = 0; i < 60; ++i) burst.push_back(test::connect_to(port));
    auto connection = server.accept();
    EXPECT_EQ(connection->peer(), loopback_address);
    burst[0].send_all("ping");
    char buffer[16];
    EXPECT_EQ(std::string(buffer, connection->receive(buffer)), "ping");
    connection->send("pong");
    connection->close();
    EXPECT_EQ(burst[0].read_all(), "pong");
}

TEST(Socket, ReceiveAllStopsAtTheFirstShortChunk) {
    // {first burst, later burst (after a pause, then the peer closes), received}: 4095 pending:
    // one short read ends it; 4096: a full chunk reads again and waits for the later bytes.
    for (auto [first, later, expected] : {std::tuple{4095, 10, 4095}, {4096, 10, 4106}, {10000, 0, 10000}, {0, 0, 0}}) {
        Pair p;
        p.peer.send_all(std::string(first, 'a'));
        if (first == 0) p.peer.close();
        std::this_thread::sleep_for(100ms);  // let the burst arrive whole
        std::thread sender([&, later = later] {
            std::this_thread::sleep_for(200ms);
            if (later) p.peer.send_all(std::string(later, 'b'));
            p.peer.close();
        });
        EXPECT_EQ(p.client.receive_all().size(), static_cast<std::size_t>(expected)) << first;
        sender.join();
    }
}

TEST(Socket, LargeSendClosedSocketAndResetPeer) {
    Pair p;
    std::string data(16 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 % 251);
    std::string received;
    std::thread reader([&] { received = p.peer.read_all(); });
    p.client.send(data);
    p.client.close();
    reader.join();
    EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
    p.client.close();
    EXPECT_FALSE(p.client.is_open());
    EXPECT_NO_THROW(p.client.send(""));
    EXPECT_TRUE(error_of([&] { p.client.send("x"); }).starts_with("送信失敗"));
    char buffer[16];
    EXPECT_TRUE(error_of([&] { p.client.receive(buffer); }).starts_with("受信失敗"));

    // A send to a peer that reset names the system's error code.
    Pair q;
    q.peer.abort();
    std::string message = "(no error)";
    for (int i = 0; i < 100 && message == "(no error)"; ++i)
        message = error_of([&] { q.client.send(std::string(65536, 'x')); });
    ASSERT_TRUE(message.starts_with("送信失敗")) << message;
    const std::string code = message.substr(std::string("送信失敗").size());
    EXPECT_TRUE(!code.empty() && code.find_first_not_of("0123456789") == std::string::npos) << message;
}

TEST(Socket, TimeLimitsWaitsAndNonBlockingTransfers) {
    Pair a, b;
    char buffer[64];
    a.client.set_receive_timeout(200ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(a.client.receive(buffer), Socket_Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    // A send that finds no room (the peer reads nothing) gives up too.
    b.client.set_send_timeout(200ms);
    EXPECT_THROW(for (int i = 0; i < 1000; ++i) b.client.send(std::string(1 << 20, 'x')), Socket_Timeout);

    Pair c, d;
    Socket_Wait waits[] = {{&c.client, true, false}, {&d.client, true, true}};
    EXPECT_EQ(wait_for(waits, 100ms), 1u);  // d has room to send; nothing to read anywhere yet
    EXPECT_TRUE(!waits[0].readable && !waits[1].readable && waits[1].writable);
    waits[1].write = false;
    EXPECT_EQ(wait_for(waits, 50ms), 0u);  // time is up
    c.peer.send_all("data");
    EXPECT_EQ(wait_for(waits, 2000ms), 1u);
    EXPECT_TRUE(waits[0].readable);
    c.client.set_blocking(false);
    EXPECT_EQ(c.client.receive_some(buffer), std::optional<std::size_t>(4));
    EXPECT_EQ(c.client.receive_some(buffer), std::nullopt);  // nothing more yet
    c.peer.close();
    bool ready[1];
    Socket* sockets[] = {&c.client};
    EXPECT_EQ(wait_readable(sockets, ready, 2000ms), 1u);  // the end counts
    EXPECT_EQ(c.client.receive_some(buffer), std::optional<std::size_t>(0));
    // A non-blocking send takes what fits and says how much.
    d.client.set_blocking(false);
    std::size_t taken = 0;
    for (std::size_t n = 1; n > 0 && taken < (1u << 30);) taken += n = d.client.send_some(std::string(1 << 20, 'y'));
    EXPECT_GT(taken, 0u);
    EXPECT_EQ(d.client.bytes_sent(), taken);
}
