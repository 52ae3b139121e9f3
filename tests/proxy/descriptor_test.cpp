// Running out of descriptors: the handler that cannot open its origin
// connection answers 500, an accept that finds none is retried, and the
// listener serves again once descriptors are free. Built natively only: under
// wine the descriptors are the shared wine server's, and other tests need them.

#include <gtest/gtest.h>

#include <thread>

#include "proxy_fixture.hpp"
#include "win32/windows.hpp"

using namespace std::chrono_literals;
using test::count_of;
using test::Origin;
using test::Raw_Connection;

namespace {

// Takes every free descriptor; gives them back a few at a time.
class Descriptor_Hog {
public:
    Descriptor_Hog() {
        for (int i = 0; i < 200000; ++i) {
            const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
            if (s == INVALID_SOCKET) return;
            held_.push_back(s);
        }
        held_all_ = false;
    }
    ~Descriptor_Hog() { release(held_.size()); }
    bool exhausted() const { return held_all_; }
    void release(std::size_t n) {
        for (; n > 0 && !held_.empty(); --n) {
            closesocket(held_.back());
            held_.pop_back();
        }
    }

private:
    std::vector<SOCKET> held_;
    bool held_all_ = true;
};

}  // namespace

class Descriptors : public test::Proxy_Fixture {};

TEST_F(Descriptors, ShortageFailsOneExchangeAndNeverTheListener) {
    Origin origin([](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        c.send_all("HTTP/1.0 200 OK\r\n\r\nserved");
    });
    const std::string request = "GET " + origin.url("/") + " HTTP/1.0\r\n\r\n";
    EXPECT_EQ(exchange(request), "HTTP/1.0 200 OK\r\n\r\nserved");
    wait_idle();
    std::string answer;
    {
        Descriptor_Hog hog;
        if (!hog.exhausted()) GTEST_SKIP() << "no descriptor limit in reach";
        // Two free: the browser's socket and the one the proxy accepts; none
        // is left for the handler's connection to the origin.
        hog.release(2);
        Raw_Connection b = browser();
        b.send_all(request);
        answer = b.read_all();
    }
    EXPECT_EQ(answer,
              "HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBF"
              "ソケット作成失敗");
    {
        // One free: the browser connects, the proxy cannot accept yet.
        Descriptor_Hog hog;
        hog.release(1);
        Raw_Connection b = browser();
        b.send_all(request);
        std::this_thread::sleep_for(300ms);  // the listener meets the shortage and waits
        hog.release(100);
        answer = b.read_all();
    }
    EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\n\r\nserved");
    EXPECT_EQ(exchange(request), "HTTP/1.0 200 OK\r\n\r\nserved");
    EXPECT_NE(log.text().find("error in server thread (Exception): accept失敗"), std::string::npos) << log.text();
}
