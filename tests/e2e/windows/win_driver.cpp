// A small console program that plays the user's part against the running
// program under Windows (or wine):
//
//   win_driver wait <class> <timeout ms>   exit 0 once a top-level window of the class exists
//   win_driver command <class> <id>        sends WM_COMMAND <id> to the window of the class
//
// Exit codes: 0 done, 1 timed out or the window did not answer, 2 bad usage.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "win32/text.hpp"
#include "win32/windows.hpp"

int main(int argc, char** argv) {
    const std::string verb = argc > 2 ? argv[1] : "";
    const std::wstring class_name = argc > 2 ? win32::utf8_to_wide(argv[2]) : L"";
    HWND window = FindWindowW(class_name.c_str(), nullptr);
    if (verb == "wait" && argc == 4) {
        const ULONGLONG deadline = GetTickCount64() + std::strtoul(argv[3], nullptr, 10);
        for (; !window; Sleep(50)) {
            if (GetTickCount64() >= deadline) return 1;
            window = FindWindowW(class_name.c_str(), nullptr);
        }
        return 0;
    }
    if (verb == "command" && argc == 4) {
        // Bounded: a program stuck in a modal loop of its own must not hang us.
        DWORD_PTR answer = 0;
        return !window || !SendMessageTimeoutW(window, WM_COMMAND, std::strtoul(argv[3], nullptr, 10), 0,
                                               SMTO_ABORTIFHUNG, 10000, &answer);
    }
    std::fprintf(stderr, "usage: see the top of win_driver.cpp\n");
    return 2;
}
