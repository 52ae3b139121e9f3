#pragma once
// Plain loopback sockets for tests, independent of the code under test.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace test {

// Starts the socket library once for the test program.
void start_sockets();

class Raw_Connection {
public:
    Raw_Connection() = default;
    explicit Raw_Connection(std::intptr_t handle) : handle_(handle) {}
    Raw_Connection(Raw_Connection&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    Raw_Connection& operator=(Raw_Connection&& other) noexcept;
    ~Raw_Connection() { close(); }

    bool is_open() const { return handle_ != -1; }
    // Sends every byte; throws when the peer takes nothing for `wait_limit_ms`
    // (a peer that stops reading fails the test instead of holding it).
    void send_all(std::string_view data);
    // One read of at most `limit` bytes; empty at end of stream. Every read
    // waits at most `wait_limit_ms`, then throws: a hanging proxy fails the
    // test instead of holding it.
    std::string read_some(std::size_t limit = 65536);
    static constexpr int wait_limit_ms = 5000;
    // Everything until the peer closes.
    std::string read_all();
    // Reads until `marker` has arrived (or the peer closes); returns all read.
    std::string read_until(std::string_view marker);
    void shutdown_write();
    void close();
    // Whether something (data or the end) arrives within `milliseconds`.
    bool readable_within(int milliseconds);
    // Whether the socket takes more bytes within `milliseconds`.
    bool writable_within(int milliseconds);
    // Closes with a reset instead of an orderly end.
    void abort();
    std::intptr_t release() {
        auto h = handle_;
        handle_ = -1;
        return h;
    }

private:
    std::intptr_t handle_ = -1;
};

// Listens on 127.0.0.1 on a port the system picks.
class Raw_Listener {
public:
    Raw_Listener();
    ~Raw_Listener();
    std::uint16_t port() const { return port_; }
    // Waits at most Raw_Connection::wait_limit_ms, then throws.
    Raw_Connection accept();
    // Nothing when no connection arrives within `milliseconds`.
    std::optional<Raw_Connection> accept_within(int milliseconds);
    void close();

private:
    std::intptr_t handle_ = -1;
    std::uint16_t port_ = 0;
};

Raw_Connection connect_to(std::uint16_t port);
// Connects to 127.0.0.1:port from another loopback address (dotted text, e.g. "127.0.0.2").
Raw_Connection connect_from(const char* source, std::uint16_t port);

// A port on 127.0.0.1 that nothing listens on (bound, then released).
std::uint16_t unused_port();

}  // namespace test
