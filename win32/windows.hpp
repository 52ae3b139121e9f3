#pragma once
// The Windows interfaces the program calls. On Windows they are the system's;
// elsewhere they come from our own small implementation in win32/posix.

// The order matters (winsock2 before windows, windows before the rest).
// clang-format off
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>
#else
#include "win32/posix/windef.hpp"
#include "win32/posix/winsock.hpp"
#include "win32/posix/winuser.hpp"
#include "win32/posix/shellapi.hpp"
#include "win32/posix/winnls.hpp"
#endif
// clang-format on
