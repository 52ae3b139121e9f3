#pragma once
// The tray icon's menu: Show, Hide, Reload, Exit.

#include "win32/windows.hpp"

namespace zib {

constexpr WPARAM CMD_SHOW = 200;
constexpr WPARAM CMD_HIDE = 201;
constexpr WPARAM CMD_RELOAD = 300;
constexpr WPARAM CMD_EXIT = 400;

// Shows the menu at the cursor; the chosen item arrives at `window` as
// WM_COMMAND with its CMD_ value. A hidden window is minimised meanwhile,
// so that the menu can take the foreground, and hidden again after.
void show_tray_menu(HWND window);

}  // namespace zib
