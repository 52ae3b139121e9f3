#include "loopback.hpp"

#include <cstring>
#include <mutex>
#include <stdexcept>

#include "socket/socket.hpp"
#include "win32/windows.hpp"

using sockets::socket_startup;

namespace test {

namespace {
SOCKET raw(std::intptr_t h) { return static_cast<SOCKET>(h); }

bool poll_for(std::intptr_t handle, short events, int milliseconds) {
    WSAPOLLFD p{};
    p.fd = raw(handle);
    p.events = events;
    return WSAPoll(&p, 1, milliseconds) > 0;
}

// Non-blocking mode for the life of the object.
class Non_Blocking {
public:
    explicit Non_Blocking(std::intptr_t handle) : handle_(handle) { set(1); }
    ~Non_Blocking() { set(0); }
    Non_Blocking(const Non_Blocking&) = delete;
    Non_Blocking& operator=(const Non_Blocking&) = delete;

private:
    void set(u_long mode) {
        if (ioctlsocket(raw(handle_), FIONBIO, &mode) == SOCKET_ERROR && mode == 1)
            throw std::runtime_error("test ioctlsocket failed");
    }
    std::intptr_t handle_;
};

std::string limit_text() { return std::to_string(Raw_Connection::wait_limit_ms / 1000) + " s"; }

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(0x7F000001);
    return a;
}
}  // namespace

void start_sockets() {
    static std::once_flag once;
    std::call_once(once, [] { socket_startup(); });
}

Raw_Connection& Raw_Connection::operator=(Raw_Connection&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

void Raw_Connection::send_all(std::string_view data) {
    const Non_Blocking non_blocking(handle_);
    while (!data.empty()) {
        if (!writable_within(wait_limit_ms)) throw std::runtime_error("test send: no room for " + limit_text());
        auto n = ::send(raw(handle_), data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)), 0);
        if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (n <= 0) throw std::runtime_error("test send failed");
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string Raw_Connection::read_some(std::size_t limit) {
    if (!readable_within(wait_limit_ms)) throw std::runtime_error("test read: nothing for " + limit_text());
    std::string buffer(limit, '\0');
    auto n = ::recv(raw(handle_), buffer.data(), static_cast<int>(limit), 0);
    if (n < 0) throw std::runtime_error("test recv failed");
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
}

std::string Raw_Connection::read_all() {
    std::string all;
    for (;;) {
        std::string piece = read_some();
        if (piece.empty()) return all;
        all += piece;
    }
}

std::string Raw_Connection::read_until(std::string_view marker) {
    std::string all;
    while (all.find(marker) == std::string::npos) {
        std::string piece = read_some();
        if (piece.empty()) break;
        all += piece;
    }
    return all;
}

bool Raw_Connection::readable_within(int milliseconds) { return poll_for(handle_, POLLIN, milliseconds); }

bool Raw_Connection::writable_within(int milliseconds) { return poll_for(handle_, POLLOUT, milliseconds); }

void Raw_Connection::shutdown_write() { ::shutdown(raw(handle_), 1); }

void Raw_Connection::close() {
    if (handle_ == -1) return;
    closesocket(raw(handle_));
    handle_ = -1;
}

void Raw_Connection::abort() {
    if (handle_ == -1) return;
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    setsockopt(raw(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    close();
}

Raw_Listener::Raw_Listener() {
    start_sockets();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) throw std::runtime_error("test socket failed");
    handle_ = static_cast<std::intptr_t>(s);
    sockaddr_in a = loopback(0);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("test bind failed");
    if (::listen(s, 64) != 0) throw std::runtime_error("test listen failed");
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
}

Raw_Listener::~Raw_Listener() { close(); }

void Raw_Listener::close() {
    if (handle_ == -1) return;
    closesocket(raw(handle_));
    handle_ = -1;
}

Raw_Connection Raw_Listener::accept() {
    std::optional<Raw_Connection> c = accept_within(Raw_Connection::wait_limit_ms);
    if (!c) throw std::runtime_error("test accept: no connection for " + limit_text());
    return std::move(*c);
}

std::optional<Raw_Connection> Raw_Listener::accept_within(int milliseconds) {
    if (!poll_for(handle_, POLLIN, milliseconds)) return std::nullopt;
    SOCKET s = ::accept(raw(handle_), nullptr, nullptr);
    if (s == INVALID_SOCKET) throw std::runtime_error("test accept failed");
    return Raw_Connection(static_cast<std::intptr_t>(s));
}

Raw_Connection connect_to(std::uint16_t port) {
    start_sockets();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) throw std::runtime_error("test socket failed");
    Raw_Connection c(static_cast<std::intptr_t>(s));
    sockaddr_in a = loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("test connect failed");
    return c;
}

Raw_Connection connect_from(const char* source, std::uint16_t port) {
    start_sockets();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) throw std::runtime_error("test socket failed");
    Raw_Connection c(static_cast<std::intptr_t>(s));
    sockaddr_in from = loopback(0);
    from.sin_addr.s_addr = inet_addr(source);
    if (::bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) throw std::runtime_error("test bind failed");
    sockaddr_in a = loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("test connect failed");
    return c;
}

std::uint16_t unused_port() {
    Raw_Listener l;
    return l.port();
}

}  // namespace test
