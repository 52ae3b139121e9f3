#pragma once
// One browser connection, served from end to end on a thread of its own:
// the request is read, rewritten for the origin server and sent, the answer
// relayed, and every error answered with the fixed 500 text.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "proxy/html_filter.hpp"
#include "socket/socket.hpp"
#include "zib/thread.hpp"

// Handlers between their start and end lines; guarded by connection_lock,
// which also keeps the start and end lines in the order of the count.
extern int active_connections;
extern std::mutex connection_lock;

class Response_Thread : public Thread {
public:
    std::unique_ptr<Response_Socket> browser;
    Html_Filter html_filter;

protected:
    int run() override;

private:
    void serve(char (&buffer)[Socket::chunk_size]);
};

// The answer for a request that failed: a fixed 500 head, a UTF-8
// byte-order mark and the error message.
std::string proxy_error_answer(std::string_view message);
