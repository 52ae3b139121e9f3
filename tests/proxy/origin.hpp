#pragma once
// A scriptable origin server on loopback: each accepted connection runs the
// script on a thread of its own, which may split its writes, pause, send junk
// or close early. Requests are recorded in the order they were read.

#include <atomic>
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
            for (;;) {
                Raw_Connection c = listener_.accept();
                if (stopping_) return;
                std::lock_guard lock(mutex_);
                workers_.emplace_back([this, c = std::move(c)]() mutable { script_(c, *this); });
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
    Raw_Listener listener_;
    Script script_;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<std::string> requests_;
};

}  // namespace test
