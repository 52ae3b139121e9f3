#pragma once
// One browser connection, served from end to end on a thread of its own:
// the request is read, rewritten for the origin server and sent, the answer
// relayed (or, for CONNECT, a tunnel opened), and every error answered with
// the fixed 500 text.

#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "base/thread.hpp"
#include "proxy/handler_pool.hpp"
#include "proxy/html_filter.hpp"
#include "proxy/proxy_options.hpp"
#include "socket/socket.hpp"

namespace proxy {

// Handlers between their start and end lines; guarded by connection_lock,
// which also keeps the start and end lines in the order of the count.
extern int active_connections;
extern std::mutex connection_lock;

// The size of every read of a handler. Larger reads mean fewer system calls
// and log lines per answer; the buffer lives on the heap, not the thread's stack.
constexpr std::size_t relay_buffer_size = 64 * 1024;

class Response_Thread : public base::Thread {
public:
    std::unique_ptr<sockets::Response_Socket> browser;
    Html_Filter html_filter;
    // The options in force when the connection was accepted.
    std::shared_ptr<const Proxy_Options> options = std::make_shared<const Proxy_Options>();
    // Where the thread waits for another connection once it has served one;
    // without a pool it ends after its first.
    std::shared_ptr<Handler_Pool> pool;

protected:
    int run() override;

private:
    // One connection, from its start line to its end line.
    void serve_connection(std::span<char> buffer);
    void serve(std::span<char> buffer);
    void serve_tunnel(std::string_view request, std::span<char> buffer);
};

// The answer for a request that failed: a fixed 500 head, a UTF-8
// byte-order mark and the error message.
std::string proxy_error_answer(std::string_view message);

}  // namespace proxy
