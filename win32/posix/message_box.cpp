#include <string>

#include "win32/posix/message_queue.hpp"
#include "win32/posix/terminal.hpp"
#include "win32/posix/winuser.hpp"
#include "win32/text.hpp"

// A message box is "<caption>: <text>" on standard error. On a terminal it
// waits for Enter (Esc also closes an OK box, as on the desktop), running
// messages sent to this thread's windows meanwhile; without one it does not wait.

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
    using namespace win32::posix;
    std::string line =
        win32::wide_to_utf8(caption ? caption : L"Error") + ": " + win32::wide_to_utf8(text ? text : L"");
    terminal::write_error_text(line + "\n");
    if (!terminal::interactive()) return IDOK;
    terminal::show_prompt("[OK: press Enter]");
    bool done = false;
    while (!done && wait_for_key()) {
        for (int key; !done && (key = terminal::take_key()) >= 0;) done = key == '\n' || key == '\r' || key == 0x1B;
    }
    terminal::clear_prompt();
    return IDOK;
}
