#include "loopback.hpp"

#include <stdexcept>

#include "socket/socket.hpp"
#include "win32/windows.hpp"

namespace test {

namespace {
SOCKET raw(std::intptr_t h) { return static_cast<SOCKET>(h); }

bool poll_for(std::intptr_t handle, short events, int milliseconds) {
    WSAPOLLFD p{raw(handle), events, 0};
    return WSAPoll(&p, 1, milliseconds) > 0;
}

[[noreturn]] void fail(const char* what) { throw std::runtime_error(std::string("test ") + what); }

void wait_for(std::intptr_t handle, short events, const char* what) {
    if (!poll_for(handle, events, wait_limit_ms)) fail(what);
}

sockaddr_in loopback(std::uint16_t port, const char* address = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(address);
    return a;
}

SOCKET bound(const sockaddr_in& a) {
    start_sockets();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) fail("socket failed");
    if (::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) fail("bind failed");
    return s;
}
}  // namespace

void start_sockets() { [[maybe_unused]] static const bool started = (sockets::socket_startup(), true); }

void Raw_Connection::send_all(std::string_view data) {
    // Non-blocking while sending, so that a peer that stops reading fails the send after the limit.
    u_long mode = 1;
    ioctlsocket(raw(handle_), FIONBIO, &mode);
    while (!data.empty()) {
        wait_for(handle_, POLLOUT, "send: no room");
        auto n = ::send(raw(handle_), data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)), 0);
        if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (n <= 0) fail("send failed");
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    mode = 0;
    ioctlsocket(raw(handle_), FIONBIO, &mode);
}

std::string Raw_Connection::read_some(std::size_t limit) {
    wait_for(handle_, POLLIN, "read: nothing arrived");
    std::string buffer(limit, '\0');
    auto n = ::recv(raw(handle_), buffer.data(), static_cast<int>(limit), 0);
    if (n < 0) fail("recv failed");
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
}

std::string Raw_Connection::read_until(std::string_view marker) {
    std::string all, piece;
    while ((marker.empty() || all.find(marker) == std::string::npos) && !(piece = read_some()).empty()) all += piece;
    return all;
}

bool Raw_Connection::readable_within(int milliseconds) { return poll_for(handle_, POLLIN, milliseconds); }

void Raw_Connection::shutdown_write() { ::shutdown(raw(handle_), 1); }

void Raw_Connection::close() {
    if (handle_ != -1) closesocket(raw(std::exchange(handle_, -1)));
}

void Raw_Connection::abort() {
    linger l{1, 0};
    setsockopt(raw(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    close();
}

Raw_Listener::Raw_Listener() {
    sockaddr_in a = loopback(0);
    SOCKET s = bound(a);
    handle_ = static_cast<std::intptr_t>(s);
    if (::listen(s, 64) != 0) fail("listen failed");
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
}

Raw_Connection Raw_Listener::accept() {
    if (std::optional<Raw_Connection> c = accept_within(wait_limit_ms)) return std::move(*c);
    fail("accept: no connection");
}

std::optional<Raw_Connection> Raw_Listener::accept_within(int milliseconds) {
    if (!poll_for(handle_, POLLIN, milliseconds)) return std::nullopt;
    SOCKET s = ::accept(raw(handle_), nullptr, nullptr);
    if (s == INVALID_SOCKET) fail("accept failed");
    return Raw_Connection(static_cast<std::intptr_t>(s));
}

Raw_Connection connect_to(std::uint16_t port, const char* source) {
    const SOCKET s = bound(loopback(0, source ? source : "127.0.0.1"));
    Raw_Connection c(static_cast<std::intptr_t>(s));
    sockaddr_in a = loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fail("connect failed");
    return c;
}

std::uint16_t unused_port() { return Raw_Listener().port(); }

}  // namespace test
