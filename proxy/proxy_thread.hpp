#pragma once
// The listener: accepts browser connections on LISTEN_PORT and hands each to
// a Response_Thread of its own, with the options in force at that moment.
// Connections from addresses the options do not allow are closed at once;
// connections that get no thread are answered with the 500 text and drained
// beside the accept loop (see Refused_Connections). Stopped by
// `stop_requested` and one more connection that wakes it.

#include <atomic>
#include <memory>

#include "base/thread.hpp"
#include "proxy/handler_pool.hpp"
#include "proxy/html_filter.hpp"
#include "proxy/proxy_options.hpp"
#include "socket/socket.hpp"

namespace proxy {

constexpr sockets::Port LISTEN_PORT = 8080;

class Proxy_Thread : public base::Thread {
public:
    Proxy_Thread() = default;
    explicit Proxy_Thread(sockets::Port port) : port_(port) {}

    Html_Filter html_filter;
    // Read at every accepted connection; whoever reads the settings replaces them.
    std::shared_ptr<Option_Store> options = std::make_shared<Option_Store>();
    std::atomic<bool> stop_requested{false};

protected:
    int run() override;

private:
    void serve(sockets::Server_Socket& server);

    sockets::Port port_ = LISTEN_PORT;
    // Handlers that have served a connection wait here for the next.
    std::shared_ptr<Handler_Pool> pool_ = std::make_shared<Handler_Pool>();
};

}  // namespace proxy
