#include "http/http_client.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "base/exception.hpp"
#include "loopback.hpp"

using base::Exception;

using http::HTTP_Client;

namespace {

using namespace std::chrono_literals;

// Accepts one connection, records the request head, answers with `pieces`
// (pausing between them) and closes.
struct Origin {
    test::Raw_Listener listener;
    std::string request;
    std::thread thread;

    explicit Origin(std::vector<std::string> pieces) {
        thread = std::thread([this, pieces = std::move(pieces)] {
            test::Raw_Connection c = listener.accept();
            request = c.read_until("\n\n");
            for (const auto& piece : pieces) {
                c.send_all(piece);
                std::this_thread::sleep_for(30ms);
            }
        });
    }
    ~Origin() {
        if (thread.joinable()) thread.join();
    }
    std::string url(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(listener.port()) + std::string(path);
    }
};

}  // namespace

TEST(HTTP_Client, SendsTheExactRequestAndReturnsTheRawAnswer) {
    Origin origin({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi"});
    HTTP_Client client;
    EXPECT_EQ(client.get(origin.url("/a/b?c=d")), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi");
    origin.thread.join();
    EXPECT_EQ(origin.request, "GET /a/b?c=d HTTP/1.1\nUser-Agent: zib\nHost: 127.0.0.1\nConnection: close\n\n");
    client.close();
    client.close();
}

TEST(HTTP_Client, UrlWithoutPathAsksForTheRoot) {
    Origin origin({"HTTP/1.0 204 No Content\r\n\r\n"});
    HTTP_Client client;
    client.get("http://127.0.0.1:" + std::to_string(origin.listener.port()));
    origin.thread.join();
    EXPECT_EQ(origin.request.substr(0, 15), "GET / HTTP/1.1\n");
}

TEST(HTTP_Client, AnswerInPiecesWithPausesComesBackWhole) {
    std::vector<std::string> pieces{"HTTP/1.1 200 OK\r\n", "Content-Type: text/plain\r\n\r\n", std::string(5000, 'x'),
                                    std::string(100, 'y'), "end"};
    std::string whole;
    for (auto& p : pieces) whole += p;
    Origin origin(pieces);
    HTTP_Client client;
    EXPECT_EQ(client.get(origin.url("/")), whole);
}

TEST(HTTP_Client, FailuresLeaveTheClientIdle) {
    test::start_sockets();
    HTTP_Client client;
    auto message = [&](std::string_view url) {
        try {
            client.get(url);
        } catch (const Exception& e) {
            return e.message();
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(message("http://127.0.0.1:" + std::to_string(test::unused_port()) + "/"), "サーバへの接続失敗");
    EXPECT_EQ(message("http://no-such-host.invalid/"), "ホストアドレス取得失敗");
    EXPECT_NE(message("http:/"), "(no error)");
    // Still usable afterwards.
    Origin origin({"HTTP/1.0 200 OK\r\n\r\nok"});
    EXPECT_EQ(client.get(origin.url("/")), "HTTP/1.0 200 OK\r\n\r\nok");
}
