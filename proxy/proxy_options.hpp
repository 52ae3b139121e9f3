#pragma once
// What the user may set about the proxy beside the rules: time limits, the
// bound on collected HTML, HTTPS tunnels and who may connect. The defaults are
// what a proxy without these settings does.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "socket/socket.hpp"

namespace proxy {

// An IPv4 address and prefix length: 192.168.1.0/24, or 10.0.0.7 (/32).
struct Client_Range {
    std::uint32_t address = 0;  // host order, bits past the prefix zero
    int prefix = 32;

    bool contains(sockets::Address peer) const noexcept;
};

struct Proxy_Options {
    // A browser that has not sent its whole request head by then is closed.
    std::chrono::milliseconds head_limit{std::chrono::seconds(30)};
    // An origin (or a browser uploading or reading) that moves no byte for
    // this long ends the exchange.
    std::chrono::milliseconds idle_limit{std::chrono::minutes(5)};
    // A tunnel with no byte in either direction for this long is closed.
    std::chrono::milliseconds tunnel_idle_limit{std::chrono::minutes(5)};
    // HTML bodies are collected (and decoded) up to this many bytes for the
    // rules; longer ones are passed on unfiltered.
    std::size_t html_limit = 8u << 20;
    // CONNECT opens a tunnel to these ports only; `tunnels` false refuses all.
    bool tunnels = true;
    std::vector<sockets::Port> tunnel_ports{443};
    // Who may use the proxy; empty means everyone.
    std::vector<Client_Range> allowed_clients;

    bool allows_client(sockets::Address peer) const noexcept;
    bool allows_tunnel_to(sockets::Port port) const noexcept;
};

// The options in force, shared by the thread that reads the settings and the
// listener, which takes a snapshot for every connection it accepts.
class Option_Store {
public:
    std::shared_ptr<const Proxy_Options> get() const {
        std::lock_guard lock(mutex_);
        return current_;
    }
    void set(Proxy_Options options) {
        auto fresh = std::make_shared<const Proxy_Options>(std::move(options));
        std::lock_guard lock(mutex_);
        current_.swap(fresh);
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Proxy_Options> current_ = std::make_shared<const Proxy_Options>();
};

}  // namespace proxy
