#include "http/http_client.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "base/exception.hpp"
#include "loopback.hpp"

// Fetches `url` (with "@" for the origin's address) from an origin that
// answers with `pieces`, pausing between them; returns the answer and the request read.
static std::pair<std::string, std::string> fetch(http::HTTP_Client& client, std::string url,
                                                 std::vector<std::string> pieces) {
    test::Raw_Listener listener;
    std::string request;
    std::thread origin([&] {
        test::Raw_Connection c = listener.accept();
        request = c.read_until("\n\n");
        for (const auto& piece : pieces) c.send_all(piece), std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    url.replace(url.find('@'), 1, "127.0.0.1:" + std::to_string(listener.port()));
    std::string answer = client.get(url);
    origin.join();
    return {answer, request};
}

TEST(HTTP_Client, SendsTheExactRequestAndReturnsTheWholeRawAnswer) {
    http::HTTP_Client client;
    const std::vector<std::string> pieces{"HTTP/1.1 200 OK\r\n", "Content-Type: text/plain\r\n\r\n",
                                          std::string(5000, 'x'), "end"};
    EXPECT_EQ(fetch(client, "http://@/a/b?c=d", pieces),
              std::pair(pieces[0] + pieces[1] + pieces[2] + pieces[3],
                        std::string("GET /a/b?c=d HTTP/1.1\nUser-Agent: zib\nHost: 127.0.0.1\nConnection: close\n\n")));
    // Failures leave the client usable.
    try {
        client.get("http://no-such-host.invalid/");
        ADD_FAILURE() << "no error";
    } catch (const base::Exception& e) {
        EXPECT_EQ(e.message(), "ホストアドレス取得失敗");
    }
    EXPECT_EQ(fetch(client, "http://@/", {"HTTP/1.0 200 OK\r\n\r\nok"}).first, "HTTP/1.0 200 OK\r\n\r\nok");
    client.close();
}
