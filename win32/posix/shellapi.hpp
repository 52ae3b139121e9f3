#pragma once
// The notification-area icon. On a terminal the icon is a hint line, and a
// press of Enter plays the part of the right-click on the icon.

#include <cstddef>

#include "win32/posix/windef.hpp"
#include "win32/posix/winuser.hpp"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

struct NOTIFYICONDATAW {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    union {
        UINT uTimeout;
        UINT uVersion;
    };
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
    HICON hBalloonIcon;
};

// The record up to and including the item GUID.
constexpr DWORD NOTIFYICONDATAW_V3_SIZE = offsetof(NOTIFYICONDATAW, hBalloonIcon);

constexpr DWORD NIM_ADD = 0x00000000;
constexpr DWORD NIM_MODIFY = 0x00000001;
constexpr DWORD NIM_DELETE = 0x00000002;
constexpr UINT NIF_MESSAGE = 0x00000001;
constexpr UINT NIF_ICON = 0x00000002;
constexpr UINT NIF_TIP = 0x00000004;

BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data);
