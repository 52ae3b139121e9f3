#pragma once
// The Unix reload request. SIGHUP has no Windows counterpart: where signals
// exist it posts WM_COMMAND with `command` to `window`, the same message the
// window's own Reload menu item sends; on Windows this does nothing.

#include "win32/windows.hpp"

namespace win32 {

void set_reload_command(HWND window, WPARAM command);

}  // namespace win32
