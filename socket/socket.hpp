#pragma once
// Blocking IPv4 TCP sockets. Every failure throws Exception with a short text;
// nothing here logs or retries.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/exception.hpp"

namespace sockets {

// IPv4 address in network byte order, exactly as `resolve` returns it.
using Address = std::uint32_t;
// Port in host byte order.
using Port = std::uint16_t;

// A read or send that waited longer than the socket's time limit. The
// connection is then of no further use: close it.
class Socket_Timeout : public base::Exception {
public:
    using base::Exception::Exception;
};

// Starts and ends the platform's socket library, once per process.
void socket_startup();
void socket_cleanup();

// Dotted-quad text is converted directly; anything else goes to the name lookup.
Address resolve(std::string_view host);

class Socket {
public:
    static constexpr std::size_t chunk_size = 4096;

    explicit Socket(std::intptr_t handle) : handle_(handle) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    virtual ~Socket();

    // Shuts both directions down and releases the handle; does nothing when closed.
    virtual void close() noexcept;
    bool is_open() const noexcept { return handle_ != -1; }

    // Time limits of each later read and send (zero: none, the default). A
    // read or send that waits longer throws Socket_Timeout.
    void set_receive_timeout(std::chrono::milliseconds limit);
    void set_send_timeout(std::chrono::milliseconds limit);
    // Ends the sending side (the peer reads the end of stream); reading goes on.
    void shutdown_send() noexcept;
    // Bytes handed to the system by `send` so far.
    std::uint64_t bytes_sent() const noexcept { return sent_; }

    // Non-blocking mode, for waiting on several connections in one thread.
    void set_blocking(bool blocking);
    // In non-blocking mode: sends what the system takes now (0: nothing fits)...
    std::size_t send_some(std::string_view data);
    // ...and reads what has arrived: nothing yet is empty, the end of stream 0.
    std::optional<std::size_t> receive_some(std::span<char> buffer);

protected:
    // Sends every byte of `data` (several system calls if the system takes part).
    virtual void send(std::string_view data);
    // One read into `buffer`; 0 means the peer closed its sending side.
    virtual std::size_t receive(std::span<char> buffer);
    // 4096-byte reads until one comes back short or the peer closes.
    virtual std::string receive_all();

    std::intptr_t handle() const noexcept { return handle_; }

private:
    friend std::size_t wait_for(std::span<struct Socket_Wait>, std::chrono::milliseconds);

    std::intptr_t handle_;
    std::uint64_t sent_ = 0;
};

// One socket to wait for, and what for.
struct Socket_Wait {
    Socket* socket;
    bool read = false;                        // wait for data, the end of stream or an error
    bool write = false;                       // wait for room to send
    bool readable = false, writable = false;  // the outcome
};

// Waits until at least one of `waits` is ready as asked or `limit` has passed
// (negative: no limit). Returns how many are ready (0: time is up).
std::size_t wait_for(std::span<Socket_Wait> waits, std::chrono::milliseconds limit);

// wait_for, reading only: ready[i] tells whether sockets[i] has something to read.
std::size_t wait_readable(std::span<Socket* const> sockets, std::span<bool> ready, std::chrono::milliseconds limit);

class Client_Socket : public Socket {
public:
    // Creates a socket and connects it to address:port.
    Client_Socket(Address address, Port port);

    void send(std::string_view data) override { Socket::send(data); }
    std::size_t receive(std::span<char> buffer) override { return Socket::receive(buffer); }
    std::string receive_all() override { return Socket::receive_all(); }
};

class Response_Socket : public Socket {
public:
    // Wraps a handle returned by `accept`, with the peer's address.
    explicit Response_Socket(std::intptr_t handle, Address peer = 0) : Socket(handle), peer_(peer) {}

    // The address the connection came from (network order).
    Address peer() const noexcept { return peer_; }

    void send(std::string_view data) override { Socket::send(data); }
    std::size_t receive(std::span<char> buffer) override { return Socket::receive(buffer); }
    std::string receive_all() override { return Socket::receive_all(); }

private:
    Address peer_;
};

class Server_Socket : public Socket {
public:
    // Binds every local IPv4 interface on `port` and listens with the
    // system's longest queue, so a burst of connections waits in it instead
    // of being refused or retried a second later.
    explicit Server_Socket(Port port);

    // Blocks until a connection arrives.
    std::unique_ptr<Response_Socket> accept();
    // The system error code of the last failed accept, so the listener can
    // tell a passing shortage from a dead socket.
    int last_error() const noexcept { return last_error_; }

private:
    int last_error_ = 0;
};

// True for accept failures that pass (a peer that gave up, descriptors or
// buffers running out, a signal): the listener keeps accepting after them.
bool is_transient_accept_error(int error) noexcept;
// True when the failure was running out of descriptors: worth a pause.
bool is_descriptor_shortage(int error) noexcept;

}  // namespace sockets
