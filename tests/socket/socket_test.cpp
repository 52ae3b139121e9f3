#include "socket/socket.hpp"

#include <gtest/gtest.h>

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

}  // namespace

// Failures to resolve and to connect: in http_client_test.cpp, through the
// same calls. Large sends, a reset peer, time limits, waits on several sockets
// and non-blocking transfers are driven by the proxy's end-to-end tests.
TEST(Socket, ResolveBindAcceptAndClose) {
    test::start_sockets();
    EXPECT_EQ(resolve("localhost"), loopback_address);
    const Port port = test::unused_port();
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
    connection->close();
    EXPECT_FALSE(connection->is_open());
    EXPECT_NO_THROW(connection->send(""));
    EXPECT_TRUE(error_of([&] { connection->send("x"); }).starts_with("送信失敗"));
    EXPECT_TRUE(error_of([&] { connection->receive(buffer); }).starts_with("受信失敗"));
    EXPECT_EQ(burst[0].read_all(), "pong");  // then the orderly end
}

TEST(Socket, ReceiveAllStopsAtTheFirstShortChunk) {
    // {first burst, later burst (after a pause, then the peer closes), received}: 4095 pending:
    // one short read ends it; 4096: a full chunk reads again and waits for the later bytes.
    for (auto [first, later, expected] : {std::tuple{4095, 10, 4095}, {4096, 10, 4106}, {10000, 0, 10000}, {0, 0, 0}}) {
        test::Raw_Listener listener;
        Client_Socket client(resolve("127.0.0.1"), listener.port());
        client.set_receive_timeout(5s);  // a read that never returns fails the test
        test::Raw_Connection peer = listener.accept();
        peer.send_all(std::string(first, 'a'));
        if (first == 0) peer.close();
        std::this_thread::sleep_for(100ms);  // let the burst arrive whole
        std::thread sender([&, later = later] {
            std::this_thread::sleep_for(200ms);
            if (later) peer.send_all(std::string(later, 'b'));
            peer.close();
        });
        EXPECT_EQ(client.receive_all().size(), static_cast<std::size_t>(expected)) << first;
        sender.join();
    }
}
