#pragma once
// A listener on a free loopback port with capturing log streams, and a raw
// browser to talk to it.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "base/streams.hpp"
#include "capture_stream.hpp"
#include "loopback.hpp"
#include "origin.hpp"
#include "proxy/proxy_thread.hpp"
#include "proxy/response_thread.hpp"

namespace test {

inline std::size_t count_of(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

class Proxy_Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        start_sockets();
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
            try {
                connect_to(port);
            } catch (...) {
            }
            listener->wait();
        }
        wait_idle();
        base::window_log = nullptr;
        base::error_log = nullptr;
    }

    // Options for the connections accepted from now on.
    void set_options(const std::function<void(proxy::Proxy_Options&)>& change) {
        proxy::Proxy_Options options;
        change(options);
        listener->options->set(std::move(options));
    }

    // Connects as a browser, retrying while the listener is still starting.
    Raw_Connection browser() {
        for (int i = 0;; ++i) {
            try {
                return connect_to(port);
            } catch (...) {
                if (i == 200) throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
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
            const std::string text = log.text();
            if (count_of(text, " start (") == count_of(text, " end (")) {
                std::lock_guard lock(proxy::connection_lock);
                if (proxy::active_connections == 0) return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
