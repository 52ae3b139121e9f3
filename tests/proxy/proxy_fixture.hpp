#pragma once
// The real listener on a free loopback port with capturing log streams, a raw
// browser to talk to it, a scriptable origin, and zlib to pack test bodies.

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/streams.hpp"
#include "base/thread.hpp"
#include "capture_stream.hpp"
#include "loopback.hpp"
#include "proxy/proxy_thread.hpp"
#include "proxy/response_thread.hpp"

namespace test {

using namespace std::chrono_literals;

// Runs `f`, ignoring what it throws: for peers the proxy may cut off.
inline void quietly(const std::function<void()>& f) try { f(); } catch (...) {
}

inline std::size_t count_of(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

enum class Packing { gzip = 16 + MAX_WBITS, zlib = MAX_WBITS, raw = -MAX_WBITS };

inline std::string packed(std::string_view data, Packing packing) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, static_cast<int>(packing), 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// An origin on loopback: runs the script for each connection it accepts, one
// after another; requests are recorded in order. A script that throws (a read
// or send past its time limit) fails the test.
class Origin {
public:
    using Script = std::function<void(Raw_Connection& connection, Origin& origin)>;

    explicit Origin(Script script) : script_(std::move(script)) {
        thread_ = std::thread([this] {
            while (!stopping_) {
                try {
                    if (std::optional<Raw_Connection> next = listener_.accept_within(50)) script_(*next, *this);
                } catch (const std::exception& e) {
                    ADD_FAILURE() << "origin script: " << e.what();
                }
            }
        });
    }
    ~Origin() {
        stopping_ = true;
        thread_.join();
    }

    std::uint16_t port() const { return listener_.port(); }
    std::string url(std::string_view path) const { return ("http://127.0.0.1:" + std::to_string(port())).append(path); }
    // Reads a request head (to its blank line) and records it.
    std::string read_request(Raw_Connection& c) { return record(c.read_until("\r\n\r\n")); }
    std::string record(std::string text) {
        std::lock_guard lock(mutex_);
        return requests_.emplace_back(std::move(text));
    }
    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    Raw_Listener listener_;
    Script script_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

// An origin that reads each request and sends `answer`.
inline Origin answering(std::string answer) {
    return Origin([answer](Raw_Connection& c, Origin& o) { o.read_request(c), c.send_all(answer); });
}

const std::string refusal_head = "HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBF";

class Proxy_Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        base::window_log = &log;
        base::error_log = &errors;
        port = unused_port();
        listener = std::make_unique<proxy::Proxy_Thread>(port);
        listener->html_filter = [this](std::string_view target, std::string body) {
            return filter ? filter(target, std::move(body)) : body;
        };
        listener->start();
    }
    void TearDown() override {
        if (listener) {
            listener->stop_requested = true;
            quietly([this] { connect_to(port); });
            listener->wait();
        }
        wait_idle();
        // A handler whose thread had not begun when the listener stopped would
        // write its lines into the next test's log: all end before the next.
        for (int i = 0; i < 800 && base::Thread::live_count() > 0; ++i) std::this_thread::sleep_for(10ms);
        EXPECT_EQ(base::Thread::live_count(), 0) << "handler threads still alive";
        base::window_log = base::error_log = nullptr;
    }

    // Options for the connections accepted from now on.
    void set_options(const std::function<void(proxy::Proxy_Options&)>& change) {
        proxy::Proxy_Options options;
        change(options);
        listener->options->set(std::move(options));
    }
    // Connects as a browser (from `source` when given), retrying while the listener is still starting.
    Raw_Connection browser(const char* source = nullptr) {
        for (int i = 0; i < 200; ++i) {
            try {
                return connect_to(port, source);
            } catch (...) {
                std::this_thread::sleep_for(10ms);
            }
        }
        return connect_to(port, source);
    }
    // Sends a whole request and reads the answer until the proxy closes.
    std::string exchange(std::string_view request) {
        Raw_Connection b = browser();
        b.send_all(request);
        return b.read_all();
    }
    // Waits until every handler has written its end line; 8 s is well past
    // the longest a handler lingers over a close. Once handlers have failed
    // to end, later waits look once: they would only fail slowly too.
    void wait_idle() {
        static bool stuck = false;
        for (int i = 0; i < (stuck ? 1 : 800); ++i) {
            if (const std::string text = log.text(); count_of(text, " start (") == count_of(text, " end (")) {
                std::lock_guard lock(proxy::connection_lock);
                if (proxy::active_connections == 0) return;
            }
            std::this_thread::sleep_for(10ms);
        }
        stuck = true;
        ADD_FAILURE() << "handlers still running";
    }

    Capture_Stream log, errors;
    sockets::Port port = 0;
    std::unique_ptr<proxy::Proxy_Thread> listener;
    proxy::Html_Filter filter;
};

}  // namespace test
