// A small program with the program's window, tray icon and log stream, for
// the terminal test: a hidden list-box window, a thread that logs a numbered
// "tick" line every 100 ms, and the tray menu (Show, Hide, Reload, Exit).
// Reload shows a message box. Usage: tray_demo [pid-file]

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include <unistd.h>

#include "base/streams.hpp"
#include "win32/signals.hpp"
#include "win32/windows.hpp"
#include "zib/log_stream.hpp"
#include "zib/tray_icon.hpp"
#include "zib/tray_menu.hpp"

using zib::CMD_EXIT;
using zib::CMD_HIDE;
using zib::CMD_RELOAD;
using zib::CMD_SHOW;
using zib::Log_Stream;
using zib::show_tray_menu;
using zib::tray_icon;
using zib::TRAY_ICON_ID;
using zib::WM_LOG_LINES;
using zib::WM_TRAY_CALLBACK;

using base::window_log;

namespace {

WNDPROC list_box_proc = nullptr;

LRESULT CALLBACK demo_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_TRAY_CALLBACK:
            if (wparam == TRAY_ICON_ID && lparam == WM_RBUTTONUP) show_tray_menu(window);
            return 0;
        case WM_COMMAND:
            switch (wparam) {
                case CMD_SHOW:
                    ShowWindow(window, SW_RESTORE);
                    ShowWindow(window, SW_SHOW);
                    return 0;
                case CMD_HIDE: ShowWindow(window, SW_HIDE); return 0;
                case CMD_RELOAD: MessageBoxW(nullptr, L"settings reloaded", L"Reload", MB_OK); return 0;
                case CMD_EXIT: PostMessageW(window, WM_CLOSE, 0, 0); return 0;
                default: break;
            }
            break;
        case WM_SYSCOMMAND:
            if (wparam == SC_CLOSE) {
                ShowWindow(window, SW_HIDE);
                return 0;
            }
            break;
        case WM_LOG_LINES: Log_Stream::take_lines(window, list_box_proc, lparam); return 1;
        case WM_DESTROY: PostQuitMessage(0); break;
        default: break;
    }
    return CallWindowProcW(list_box_proc, window, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) std::ofstream(argv[1]) << getpid() << "\n";
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    GetClassInfoExW(nullptr, L"LISTBOX", &info);
    list_box_proc = info.lpfnWndProc;
    info.lpfnWndProc = demo_window_proc;
    info.hInstance = GetModuleHandleW(nullptr);
    info.lpszClassName = L"tray_demo_window";
    info.hIcon = LoadIconW(info.hInstance, MAKEINTRESOURCEW(1));
    if (!RegisterClassExW(&info)) return 1;
    HWND window = CreateWindowExW(WS_EX_CLIENTEDGE, L"tray_demo_window", L"tray demo", 0x00FF0000, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 300, nullptr, nullptr, info.hInstance, nullptr);
    if (!window) return 1;
    tray_icon.hWnd = window;
    tray_icon.hIcon = info.hIcon;
    Shell_NotifyIconW(NIM_ADD, &tray_icon);
    win32::set_reload_command(window, CMD_RELOAD);
    window_log = new Log_Stream;

    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        for (int n = 1; !stop; ++n) {
            window_log->printf("tick %d\n", n);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The window is gone: the ticker's writes return at once now.
    stop = true;
    ticker.join();
    Shell_NotifyIconW(NIM_DELETE, &tray_icon);
    std::fprintf(stderr, "tray demo: clean exit\n");
    return 0;
}
