#include "socket/socket.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/exception.hpp"
#include "win32/windows.hpp"

using base::Exception;

namespace sockets {

namespace {

SOCKET raw(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

std::intptr_t create_socket() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) throw Exception("ソケット作成失敗");
    return static_cast<std::intptr_t>(s);
}

sockaddr_in socket_address(Address address, Port port) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = address;
    return a;
}

// A blocking read or send whose time limit ran out: Windows reports it as
// such, POSIX systems as "would block".
bool is_timeout(int error) {
#ifndef _WIN32
    if (error == EAGAIN || error == EWOULDBLOCK) return true;
#endif
    return error == WSAETIMEDOUT;
}

bool is_would_block(int error) {
#ifndef _WIN32
    if (error == EAGAIN || error == EWOULDBLOCK) return true;
#endif
    return error == WSAEWOULDBLOCK;
}

void set_timeout(SOCKET s, int option, std::chrono::milliseconds limit) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(limit.count(), 0);
#ifdef _WIN32
    const DWORD value = static_cast<DWORD>(std::min<long long>(ms, 0x7FFFFFFF));
#else
    timeval value{};
    value.tv_sec = static_cast<time_t>(ms / 1000);
    value.tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
#endif
    if (::setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == SOCKET_ERROR)
        throw Exception("setsockopt失敗" + std::to_string(WSAGetLastError()));
}

}  // namespace

void socket_startup() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) throw Exception("WinSockの初期化失敗");
}

void socket_cleanup() { WSACleanup(); }

Address resolve(std::string_view host) {
    const std::string text(host);
    Address address = inet_addr(text.c_str());
    if (address != INADDR_NONE) return address;
    hostent* record = gethostbyname(text.c_str());
    if (!record || !record->h_addr_list || !record->h_addr_list[0]) throw Exception("ホストアドレス取得失敗");
    std::memcpy(&address, record->h_addr_list[0], sizeof address);
    return address;
}

Socket::~Socket() { close(); }

void Socket::close() noexcept {
    if (handle_ == -1) return;
    shutdown(raw(handle_), 2);
    closesocket(raw(handle_));
    handle_ = -1;
}

void Socket::set_receive_timeout(std::chrono::milliseconds limit) { set_timeout(raw(handle_), SO_RCVTIMEO, limit); }

void Socket::set_send_timeout(std::chrono::milliseconds limit) { set_timeout(raw(handle_), SO_SNDTIMEO, limit); }

void Socket::shutdown_send() noexcept {
    if (handle_ != -1) shutdown(raw(handle_), SD_SEND);
}

void Socket::send(std::string_view data) {
    // One call may take only part of the data; the rest must not be lost.
    while (!data.empty()) {
        const int piece = static_cast<int>(std::min<std::size_t>(data.size(), 1 << 30));
        const auto sent = ::send(raw(handle_), data.data(), piece, 0);
        if (sent < 0) {
            const int error = WSAGetLastError();
            if (is_timeout(error)) throw Socket_Timeout("send timed out");
            throw Exception("送信失敗" + std::to_string(error));
        }
        sent_ += static_cast<std::uint64_t>(sent);
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::size_t Socket::receive(std::span<char> buffer) {
    const int length = static_cast<int>(std::min<std::size_t>(buffer.size(), 1 << 30));
    const auto got = ::recv(raw(handle_), buffer.data(), length, 0);
    if (got < 0) {
        const int error = WSAGetLastError();
        if (is_timeout(error)) throw Socket_Timeout("receive timed out");
        throw Exception("受信失敗" + std::to_string(error));
    }
    return static_cast<std::size_t>(got);
}

void Socket::set_blocking(bool blocking) {
    u_long mode = blocking ? 0 : 1;
    if (ioctlsocket(raw(handle_), FIONBIO, &mode) == SOCKET_ERROR)
        throw Exception("ioctlsocket失敗" + std::to_string(WSAGetLastError()));
}

std::size_t Socket::send_some(std::string_view data) {
    if (data.empty()) return 0;
    const int piece = static_cast<int>(std::min<std::size_t>(data.size(), 1 << 30));
    const auto sent = ::send(raw(handle_), data.data(), piece, 0);
    if (sent < 0) {
        const int error = WSAGetLastError();
        if (is_would_block(error)) return 0;
        throw Exception("送信失敗" + std::to_string(error));
    }
    sent_ += static_cast<std::uint64_t>(sent);
    return static_cast<std::size_t>(sent);
}

std::optional<std::size_t> Socket::receive_some(std::span<char> buffer) {
    const int length = static_cast<int>(std::min<std::size_t>(buffer.size(), 1 << 30));
    const auto got = ::recv(raw(handle_), buffer.data(), length, 0);
    if (got < 0) {
        const int error = WSAGetLastError();
        if (is_would_block(error)) return std::nullopt;
        throw Exception("受信失敗" + std::to_string(error));
    }
    return static_cast<std::size_t>(got);
}

std::size_t wait_for(std::span<Socket_Wait> waits, std::chrono::milliseconds limit) {
    // Only what is waited for goes to the system: some report a closed peer
    // even on a socket asked for nothing, which would end the wait early.
    std::vector<WSAPOLLFD> polled;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < waits.size(); ++i) {
        waits[i].readable = waits[i].writable = false;
        if (!waits[i].read && !waits[i].write) continue;
        WSAPOLLFD p{};
        p.fd = raw(waits[i].socket->handle_);
        p.events = static_cast<short>((waits[i].read ? POLLIN : 0) | (waits[i].write ? POLLOUT : 0));
        polled.push_back(p);
        index.push_back(i);
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int timeout = -1;
        if (limit.count() >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 0x7FFFFFFF));
        }
        const int count =
            polled.empty() ? 0 : WSAPoll(polled.data(), static_cast<unsigned long>(polled.size()), timeout);
        if (count == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEINTR) continue;
            throw Exception("poll失敗" + std::to_string(WSAGetLastError()));
        }
        std::size_t n = 0;
        for (std::size_t k = 0; k < polled.size(); ++k) {
            Socket_Wait& w = waits[index[k]];
            // A closed or failed peer counts as ready: the next call reports it.
            const short got = polled[k].revents;
            const bool broken = (got & (POLLHUP | POLLERR)) != 0;
            w.readable = w.read && ((got & POLLIN) != 0 || broken);
            w.writable = w.write && ((got & POLLOUT) != 0 || broken);
            n += w.readable || w.writable;
        }
        if (n > 0 || timeout == 0 || polled.empty()) return n;
        if (limit.count() >= 0 && Clock::now() >= deadline) return 0;
    }
}

std::size_t wait_readable(std::span<Socket* const> sockets, std::span<bool> ready, std::chrono::milliseconds limit) {
    std::vector<Socket_Wait> waits(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i) waits[i] = Socket_Wait{sockets[i], true};
    const std::size_t n = wait_for(waits, limit);
    for (std::size_t i = 0; i < sockets.size(); ++i) ready[i] = waits[i].readable;
    return n;
}

std::string Socket::receive_all() {
    char buffer[chunk_size] = {};
    std::string result;
    for (;;) {
        const std::size_t n = receive(buffer);
        if (n == 0) return result;
        result.append(buffer, n);
        if (n != chunk_size) return result;
    }
}

Client_Socket::Client_Socket(Address address, Port port) : Socket(create_socket()) {
    const sockaddr_in a = socket_address(address, port);
    if (::connect(raw(handle()), reinterpret_cast<const sockaddr*>(&a), sizeof a) == SOCKET_ERROR)
        throw Exception("サーバへの接続失敗");
}

Server_Socket::Server_Socket(Port port) : Socket(create_socket()) {
    const sockaddr_in a = socket_address(htonl(0), port);
#ifndef _WIN32
    // Windows binds a port whose old connections still linger in TIME_WAIT;
    // Linux does so only with SO_REUSEADDR (which still refuses a port that
    // another socket listens on). Without it a restarted proxy could not
    // listen for a minute after serving.
    int reuse = 1;
    ::setsockopt(raw(handle()), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
#endif
    if (::bind(raw(handle()), reinterpret_cast<const sockaddr*>(&a), sizeof a) == SOCKET_ERROR)
        throw Exception("bind失敗");
    if (::listen(raw(handle()), SOMAXCONN) == SOCKET_ERROR) throw Exception("listen失敗");
}

std::unique_ptr<Response_Socket> Server_Socket::accept() {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    SOCKET s = ::accept(raw(handle()), reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) {
        last_error_ = WSAGetLastError();
        throw Exception("accept失敗");
    }
    try {
        return std::make_unique<Response_Socket>(static_cast<std::intptr_t>(s), peer.sin_addr.s_addr);
    } catch (...) {
        closesocket(s);  // out of memory: the connection must not leak
        throw;
    }
}

bool is_transient_accept_error(int error) noexcept {
    switch (error) {
        case WSAECONNABORTED:
        case WSAECONNRESET:
        case WSAEMFILE:
        case WSAENOBUFS:
        case WSAEINTR:
#ifndef _WIN32
        case ENFILE:
        case ENOMEM:
        case EPROTO:
#endif
            return true;
        default: return false;
    }
}

bool is_descriptor_shortage(int error) noexcept {
#ifndef _WIN32
    if (error == ENFILE) return true;
#endif
    return error == WSAEMFILE || error == WSAENOBUFS;
}

}  // namespace sockets
