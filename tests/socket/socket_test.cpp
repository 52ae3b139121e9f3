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

// Large sends, a reset peer, time limits, waits on several sockets and
// non-blocking transfers are driven by the proxy's end-to-end tests.
TEST(Socket, ClosedSocket) {
    Pair p;
    p.client.close();
    p.client.close();
    EXPECT_FALSE(p.client.is_open());
    EXPECT_NO_THROW(p.client.send(""));
    EXPECT_TRUE(error_of([&] { p.client.send("x"); }).starts_with("送信失敗"));
    char buffer[16];
    EXPECT_TRUE(error_of([&] { p.client.receive(buffer); }).starts_with("受信失敗"));
    EXPECT_EQ(p.peer.read_all(), "");  // the peer sees the orderly end
}
