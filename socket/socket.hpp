#pragma once
// Blocking IPv4 TCP sockets. Every failure throws Exception with a short text;
// nothing here logs or retries.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// IPv4 address in network byte order, exactly as `resolve` returns it.
using Address = std::uint32_t;
// Port in host byte order.
using Port = std::uint16_t;

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

protected:
    // Sends every byte of `data` (several system calls if the system takes part).
    virtual void send(std::string_view data);
    // One read into `buffer`; 0 means the peer closed its sending side.
    virtual std::size_t receive(std::span<char> buffer);
    // 4096-byte reads until one comes back short or the peer closes.
    virtual std::string receive_all();

    std::intptr_t handle() const noexcept { return handle_; }

private:
    std::intptr_t handle_;
};

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
    // Wraps a handle returned by `accept`.
    explicit Response_Socket(std::intptr_t handle) : Socket(handle) {}

    void send(std::string_view data) override { Socket::send(data); }
    std::size_t receive(std::span<char> buffer) override { return Socket::receive(buffer); }
    std::string receive_all() override { return Socket::receive_all(); }
};

class Server_Socket : public Socket {
public:
    // Binds every local IPv4 interface on `port` and listens (backlog 5).
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
