#pragma once
// The listener: accepts browser connections on LISTEN_PORT and hands each to
// a Response_Thread of its own. Stopped by `stop_requested` and one more
// connection that wakes the blocked accept.

#include <atomic>

#include "proxy/html_filter.hpp"
#include "socket/socket.hpp"
#include "zib/thread.hpp"

constexpr Port LISTEN_PORT = 8080;

class Proxy_Thread : public Thread {
public:
    Proxy_Thread() = default;
    explicit Proxy_Thread(Port port) : port_(port) {}

    Html_Filter html_filter;
    std::atomic<bool> stop_requested{false};

protected:
    int run() override;

private:
    void serve(Server_Socket& server);

    Port port_ = LISTEN_PORT;
};
