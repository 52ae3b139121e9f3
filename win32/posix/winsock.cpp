#include "win32/posix/winsock.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

int WSAStartup(WORD version, WSADATA* data) {
    // A send to a peer that has gone must fail with an error code, as on
    // Windows, not end the process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (data) {
        std::memset(data, 0, sizeof *data);
        data->wVersion = version;
        data->wHighVersion = version;
    }
    return 0;
}

int WSACleanup() { return 0; }

int WSAGetLastError() { return errno; }

int closesocket(SOCKET s) { return ::close(s); }

int ioctlsocket(SOCKET s, long command, u_long* argument) {
    int value = argument && *argument ? 1 : 0;
    return ::ioctl(s, static_cast<unsigned long>(command), &value);
}

hostent* win32_gethostbyname(const char* name) {
    // One record per thread, valid until the thread's next lookup.
    thread_local hostent record;
    thread_local std::vector<in_addr> addresses;
    thread_local std::vector<char*> list;
    thread_local std::vector<char> host_name;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return nullptr;
    addresses.clear();
    for (addrinfo* a = found; a; a = a->ai_next)
        if (a->ai_family == AF_INET) addresses.push_back(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
    freeaddrinfo(found);
    if (addresses.empty()) return nullptr;

    list.clear();
    for (auto& a : addresses) list.push_back(reinterpret_cast<char*>(&a));
    list.push_back(nullptr);
    host_name.assign(name, name + std::strlen(name) + 1);
    record = hostent{};
    record.h_name = host_name.data();
    record.h_addrtype = AF_INET;
    record.h_length = 4;
    record.h_addr_list = list.data();
    return &record;
}
