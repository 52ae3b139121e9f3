#include "zib/main_window.hpp"

#include "zib/log_stream.hpp"
#include "zib/rule_set.hpp"
#include "zib/tray_icon.hpp"

namespace zib {

WNDPROC list_box_proc = nullptr;

namespace {

std::exception_ptr window_error;

}  // namespace

std::exception_ptr take_window_error() noexcept {
    std::exception_ptr error;
    std::swap(error, window_error);
    return error;
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
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
                case CMD_RELOAD: try { load_settings();
                    } catch (...) {
                        window_error = std::current_exception();
                        PostQuitMessage(0);
                    }
                    return 0;
                case CMD_EXIT: PostMessageW(window, WM_CLOSE, 0, 0); return 0;
            }
            break;
        case WM_LOG_LINES: Log_Stream::take_lines(window, list_box_proc, lparam); return 1;
        case WM_TIMER: Log_Stream::take_lines_on_timer(window, list_box_proc, wparam); return 0;
        case WM_SYSCOMMAND:
            if (wparam == SC_CLOSE) {
                ShowWindow(window, SW_HIDE);
                return 0;
            }
            break;
        case WM_DESTROY: PostQuitMessage(0); break;
    }
    return CallWindowProcW(list_box_proc, window, message, wparam, lparam);
}

}  // namespace zib
