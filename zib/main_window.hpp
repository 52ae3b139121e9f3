#pragma once
// The main window: a list box (the log window) whose procedure also answers
// the tray icon's menu.

#include <exception>

#include "win32/windows.hpp"
#include "zib/tray_menu.hpp"

namespace zib {

// The system list box's procedure, kept at start-up: everything the main
// window does not handle itself goes there.
extern WNDPROC list_box_proc;

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// An error raised inside the procedure (a failing Reload) cannot travel up
// through the system's dispatch code: the procedure keeps it and ends the
// message loop, and the entry point takes it here and reports it.
std::exception_ptr take_window_error() noexcept;

}  // namespace zib
