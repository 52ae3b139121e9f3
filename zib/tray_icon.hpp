#pragma once
// The notification-area icon record, one for the process. Start-up fills in
// the main window and the icon before adding it; the log window's stream
// finds the main window here.

#include "win32/windows.hpp"

namespace zib {

constexpr UINT TRAY_ICON_ID = 100;
constexpr UINT WM_TRAY_CALLBACK = WM_USER + 1000;

extern NOTIFYICONDATAW tray_icon;

}  // namespace zib
