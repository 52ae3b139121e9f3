#include "zib/tray_menu.hpp"

namespace zib {

void show_tray_menu(HWND window) {
    const bool was_visible = IsWindowVisible(window);
    if (!was_visible) ShowWindow(window, SW_MINIMIZE);
    SetForegroundWindow(window);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, CMD_SHOW, L"&Show");
    AppendMenuW(menu, MF_STRING, CMD_HIDE, L"&Hide");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, CMD_RELOAD, L"&Reload");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, CMD_EXIT, L"&Exit");
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    DestroyMenu(menu);
    if (!was_visible) ShowWindow(window, SW_HIDE);
}

}  // namespace zib
