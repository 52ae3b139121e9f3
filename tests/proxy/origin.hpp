#pragma once
// A scriptable origin server on loopback: each accepted connection runs the
// script on a thread of its own, which may split its writes, pause, send junk
// or close early. Requests are recorded in the order they were read. A
// script that throws (a read or send past its time limit) fails the test.

#include <gtest/gtest.h>

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopback.hpp"

namespace test {

class Origin {
public:
    using Script = std::function<void(Raw_Connection& connection, Origin& origin)>;

    explicit Origin(Script script) : script_(std::move(script)) {
        acceptor_ = std::thread([this] {
            // Waits in short steps so that it ends even when the wake-up
            // connection below cannot be made.
            while (!stopping_) {
                std::optional<Raw_Connection> next = listener_.accept_within(100);
                if (!next || stopping_) continue;
                std::lock_guard lock(mutex_);
                workers_.emplace_back([this, c = std::move(*next)]() mutable { run_script(c); });
            }
        });
    }
    ~Origin() {
        stopping_ = true;
        try {
            connect_to(listener_.port());
        } catch (...) {
        }
        acceptor_.join();
        std::lock_guard lock(mutex_);
        for (auto& w : workers_) w.join();
    }

    std::uint16_t port() const { return listener_.port(); }
    std::string url(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(port()) + std::string(path);
    }

    // Reads a request head (to its blank line) and records it.
    std::string read_request(Raw_Connection& c) {
        std::string head = c.read_until("\r\n\r\n");
        record(head);
        return head;
    }
    void record(const std::string& text) {
        std::lock_guard lock(mutex_);
        requests_.push_back(text);
    }
    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void run_script(Raw_Connection& c) {
        try {
            script_(c, *this);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "origin script: " << e.what();
        }
    }

    Raw_Listener listener_;
    Script script_;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<std::string> requests_;
};

}  // namespace test
