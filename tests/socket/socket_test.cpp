#include "socket/socket.hpp"

#include <gtest/gtest.h>

#include "base/exception.hpp"
#include "loopback.hpp"

using namespace sockets;

namespace {

constexpr Address loopback_address = 0x0100007F;  // 127.0.0.1 in network order on a little-endian machine

}  // namespace

// Failures to resolve and to connect: the proxy's refusal rows and
// program_e2e.py. Large sends, a reset peer, time limits, waits on several sockets
// and non-blocking transfers are driven by the proxy's end-to-end tests.
TEST(Socket, ResolveBindAcceptAndClose) {
    test::start_sockets();
    EXPECT_EQ(resolve("localhost"), loopback_address);
    const Port port = test::unused_port();
    Server_Socket server(port);
    EXPECT_THROW(Server_Socket second(port), base::Exception);
    // A burst of connections nobody accepts yet waits in the queue instead of being dropped.
    std::vector<test::Raw_Connection> burst;
    for (int i = 0; i < 60; ++i) burst.push_back(test::connect_to(port));
    auto connection = server.accept();
    EXPECT_EQ(connection->peer(), loopback_address);
    burst[0].send_all("ping");
    char buffer[16];
    EXPECT_EQ(std::string(buffer, connection->receive(buffer)), "ping");
    connection->send("pong");
    // receive_all: whole chunks until a short one, or until the end.
    auto next = server.accept();
    next->set_receive_timeout(std::chrono::seconds(5));  // a read past the data fails instead of waiting
    burst[1].send_all(std::string(8192 + 5, 'a'));
    EXPECT_EQ(next->receive_all(), std::string(8192 + 5, 'a'));
    burst[1].send_all(std::string(4096, 'b')), burst[1].shutdown_write();
    EXPECT_EQ(next->receive_all(), std::string(4096, 'b'));
    connection->close();
    connection->close();
    EXPECT_THROW(connection->send("x"), base::Exception);
    EXPECT_THROW(connection->receive(buffer), base::Exception);
    EXPECT_EQ(burst[0].read_all(), "pong");  // then the orderly end
}
