#include "http/http_client.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "loopback.hpp"

// The exact request, and the whole raw answer though it arrives in pieces with pauses.
TEST(HTTP_Client, SendsTheExactRequestAndReturnsTheWholeRawAnswer) {
    test::Raw_Listener listener;
    const std::vector<std::string> pieces{"HTTP/1.1 200 OK\r\n", "Content-Type: text/plain\r\n\r\n",
                                          std::string(5000, 'x'), "end"};
    std::string request;
    std::thread origin([&] {
        test::Raw_Connection c = listener.accept();
        request = c.read_until("\n\n");
        for (const auto& piece : pieces) c.send_all(piece), std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    http::HTTP_Client client;
    const std::string answer = client.get("http://127.0.0.1:" + std::to_string(listener.port()) + "/a/b?c=d");
    origin.join();
    EXPECT_EQ(answer, pieces[0] + pieces[1] + pieces[2] + pieces[3]);
    EXPECT_EQ(request, "GET /a/b?c=d HTTP/1.1\nUser-Agent: zib\nHost: 127.0.0.1\nConnection: close\n\n");
    client.close();
}
