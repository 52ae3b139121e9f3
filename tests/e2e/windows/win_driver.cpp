// A small console program that plays the user's part against the running
// program under Windows (or wine):
//
//   win_driver wait <class> <timeout ms> 1|0   exit 0 once a top-level window of the class exists (1) or none (0)
//   win_driver command <class> <id>            sends WM_COMMAND <id> to the window of the class
//   win_driver log <class>                     prints the items of that list box (UTF-8)
//
// Exit codes: 0 done, 1 timed out or the window did not answer, 2 bad usage.

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "win32/text.hpp"
#include "win32/windows.hpp"

namespace {

// A bounded send (a program stuck in a modal loop of its own must not hang
// us); LB_ERR when the window does not answer.
LRESULT send(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    DWORD_PTR answer = 0;
    const bool ok = SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 10000, &answer);
    return ok ? static_cast<LRESULT>(answer) : LB_ERR;
}

// The system copies list-box texts across processes: the log window is read
// from here as the user reads it.
int print_log(HWND window) {
    const LRESULT count = send(window, LB_GETCOUNT);
    if (count == LB_ERR) return 1;
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring item(static_cast<std::size_t>(std::max<LRESULT>(send(window, LB_GETTEXTLEN, i), 0)) + 1, L'\0');
        const LRESULT length = send(window, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        if (length == LB_ERR) return 1;
        std::printf("%s\n", win32::wide_to_utf8(item.substr(0, static_cast<std::size_t>(length))).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 bytes and "\n" line ends, as they are
    const std::string verb = argc > 2 ? argv[1] : "";
    const std::wstring class_name = argc > 2 ? win32::utf8_to_wide(argv[2]) : L"";
    HWND window = FindWindowW(class_name.c_str(), nullptr);
    if (verb == "wait" && argc == 5) {
        const ULONGLONG deadline = GetTickCount64() + std::strtoul(argv[3], nullptr, 10);
        for (const bool present = argv[4][0] == '1'; (window != nullptr) != present; Sleep(50)) {
            if (GetTickCount64() >= deadline) return 1;
            window = FindWindowW(class_name.c_str(), nullptr);
        }
        return 0;
    }
    if (!window && argc > 2) return 1;
    if (verb == "command" && argc == 4) return send(window, WM_COMMAND, std::strtoul(argv[3], nullptr, 10)) == LB_ERR;
    if (verb == "log" && argc == 3) return print_log(window);
    std::fprintf(stderr, "usage: see the top of win_driver.cpp\n");
    return 2;
}
