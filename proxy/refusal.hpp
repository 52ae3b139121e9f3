#pragma once
// Closing a browser connection so that the browser reads what it was sent.
// A socket closed with unread bytes in it resets the connection, and the
// browser then loses the answer: so the proxy first ends its sending side and
// reads (and drops) what the browser still sends, within small bounds.

#include <chrono>
#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "socket/socket.hpp"

namespace proxy {

// How long and how much of a closing browser's remaining bytes are read.
constexpr std::chrono::milliseconds linger_time{2000};
constexpr std::size_t linger_bytes = 1u << 20;

// Sends `answer` (may be empty), ends the sending side, reads until the
// browser closes or the bounds are reached, and closes. Never throws.
void answer_and_close(sockets::Response_Socket& browser, std::string_view answer, std::span<char> buffer) noexcept;

// Closes after a finished exchange: when the browser has sent more than was
// read (a body longer than announced, a second request), those bytes are
// drained first; otherwise it closes at once. Never throws.
void close_after_exchange(sockets::Response_Socket& browser, std::span<char> buffer) noexcept;

// The listener's refusals: each is answered at once and then drained beside
// the accept loop, so that a refusal never holds the listener for long.
class Refused_Connections {
public:
    // At most this many are drained at once; the oldest is closed for a new one.
    static constexpr std::size_t capacity = 64;

    // Sends `answer`, ends the sending side and keeps the connection for
    // draining. Never throws (a connection it cannot keep is closed).
    void add(std::unique_ptr<sockets::Response_Socket> connection, std::string_view answer) noexcept;
    // Returns once `server` has a connection to accept, draining meanwhile.
    void wait_for_connection(sockets::Server_Socket& server);
    std::size_t size() const noexcept { return entries_.size(); }

private:
    struct Entry {
        std::unique_ptr<sockets::Response_Socket> socket;
        std::chrono::steady_clock::time_point deadline;
        std::size_t drained = 0;
    };
    // Reads what one connection has; false when it is done with.
    bool drain(Entry& entry) noexcept;
    void drop_expired();

    std::vector<Entry> entries_;
};

}  // namespace proxy
