#include "win32/signals.hpp"

#ifdef _WIN32
// Windows has no reload signal; the window's menu is the only way.
void win32::set_reload_command(HWND, WPARAM) {}
#endif
