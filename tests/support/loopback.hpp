#pragma once
// Plain loopback sockets for tests, independent of the code under test. Every
// wait is bounded (wait_limit_ms, then an exception): a hanging peer fails the
// test instead of holding it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace test {

constexpr int wait_limit_ms = 5000;

// Starts the socket library once for the test program.
void start_sockets();

class Raw_Connection {
public:
    explicit Raw_Connection(std::intptr_t handle) : handle_(handle) {}
    Raw_Connection(Raw_Connection&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}
    ~Raw_Connection() { close(); }

    void send_all(std::string_view data);
    // One read of at most `limit` bytes; empty at end of stream.
    std::string read_some(std::size_t limit = 65536);
    // Everything until the peer closes.
    std::string read_all() { return read_until({}); }
    // Reads until `marker` has arrived (or the peer closes); returns all read.
    std::string read_until(std::string_view marker);
    void shutdown_write();
    void close();
    // Whether something (data or the end) arrives within `milliseconds`.
    bool readable_within(int milliseconds);
    // Closes with a reset instead of an orderly end.
    void abort();

private:
    std::intptr_t handle_ = -1;
};

// Listens on 127.0.0.1 on a port the system picks.
class Raw_Listener {
public:
    Raw_Listener();
    ~Raw_Listener() { Raw_Connection(handle_).close(); }
    std::uint16_t port() const { return port_; }
    Raw_Connection accept();
    // Nothing when no connection arrives within `milliseconds`.
    std::optional<Raw_Connection> accept_within(int milliseconds);

private:
    std::intptr_t handle_ = -1;
    std::uint16_t port_ = 0;
};

// Connects to 127.0.0.1:port, from another loopback address when `source` (dotted text) is given.
Raw_Connection connect_to(std::uint16_t port, const char* source = nullptr);

// A port on 127.0.0.1 that nothing listens on (bound, then released).
std::uint16_t unused_port();

}  // namespace test
