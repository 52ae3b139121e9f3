#pragma once
// Windows Sockets 1.1 as the program uses them, over the system's BSD sockets.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "win32/posix/windef.hpp"

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
constexpr int SD_BOTH = SHUT_RDWR;
constexpr int WSAECONNRESET = ECONNRESET;
constexpr int WSAECONNABORTED = ECONNABORTED;
constexpr int WSAEMFILE = EMFILE;
constexpr int WSAENOBUFS = ENOBUFS;
constexpr int WSAEINTR = EINTR;
constexpr int WSAETIMEDOUT = ETIMEDOUT;
constexpr int WSAEWOULDBLOCK = EWOULDBLOCK;
constexpr int SD_SEND = SHUT_WR;

using WSAPOLLFD = pollfd;
inline int WSAPoll(WSAPOLLFD* sockets, unsigned long count, int timeout_ms) {
    return ::poll(sockets, count, timeout_ms);
}

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
};

inline WORD MAKEWORD(BYTE low, BYTE high) { return static_cast<WORD>(low | (high << 8)); }

int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
int closesocket(SOCKET s);
using u_long = unsigned long;
// FIONBIO only: non-blocking mode on or off.
int ioctlsocket(SOCKET s, long command, u_long* argument);

// The POSIX `gethostbyname` is not thread-safe; ours keeps its result per
// thread (IPv4 only), as the Windows one does.
hostent* win32_gethostbyname(const char* name);
#define gethostbyname win32_gethostbyname
