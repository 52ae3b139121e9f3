#include "socket/socket.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "win32/windows.hpp"
#include "zib/exception.hpp"

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

void Socket::send(std::string_view data) {
    // One call may take only part of the data; the rest must not be lost.
    while (!data.empty()) {
        const int piece = static_cast<int>(std::min<std::size_t>(data.size(), 1 << 30));
        const auto sent = ::send(raw(handle_), data.data(), piece, 0);
        if (sent < 0) throw Exception("送信失敗" + std::to_string(WSAGetLastError()));
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::size_t Socket::receive(std::span<char> buffer) {
    const int length = static_cast<int>(std::min<std::size_t>(buffer.size(), 1 << 30));
    const auto got = ::recv(raw(handle_), buffer.data(), length, 0);
    if (got < 0) throw Exception("受信失敗" + std::to_string(WSAGetLastError()));
    return static_cast<std::size_t>(got);
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
    if (::listen(raw(handle()), 5) == SOCKET_ERROR) throw Exception("listen失敗");
}

std::unique_ptr<Response_Socket> Server_Socket::accept() {
    SOCKET s = ::accept(raw(handle()), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        last_error_ = WSAGetLastError();
        throw Exception("accept失敗");
    }
    return std::make_unique<Response_Socket>(static_cast<std::intptr_t>(s));
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
