// A small console program that plays the user's part against the running
// program under Windows (or wine): it waits for windows, reads and closes
// message boxes, and sends menu commands to a window.
//
//   win_driver wait-window <class> <timeout ms>    exit 0 once a top-level window of the class exists
//   win_driver wait-gone <class> <timeout ms>      exit 0 once none exists
//   win_driver message-box <timeout ms>            prints "caption: ..." and "text: ..." (UTF-8) of the first
//                                                  message box and closes it with OK
//   win_driver command <class> <id>                sends WM_COMMAND <id> to the window of the class
//   win_driver visible <class>                     prints "visible" or "hidden"
//   win_driver log <class>                         prints the items of the list-box window of the class (UTF-8)
//   win_driver view <class>                        prints "top T count C rows R" of that list box: its top
//                                                  index, its item count and the whole items its client area shows
//   win_driver scroll <class> up|end               scrolls that list box a page up, or to its end, as a click
//                                                  on its scroll bar does
//
// Exit codes: 0 done, 1 timed out or window not found, 2 bad usage.

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "win32/text.hpp"
#include "win32/windows.hpp"

namespace {

// The standard message box dialog: its class and the id of its text control.
constexpr const wchar_t* message_box_class = L"#32770";
constexpr int message_box_text_id = 0xFFFF;
constexpr DWORD poll_ms = 50;
constexpr UINT send_timeout_ms = 10000;

void print_utf8(const char* label, const std::wstring& text) {
    const std::string bytes = win32::wide_to_utf8(text);
    std::printf("%s: %s\n", label, bytes.c_str());
    std::fflush(stdout);
}

std::wstring window_text(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Polls until `found` says yes or the time runs out.
template <typename Found>
bool wait_until(DWORD timeout_ms, Found found) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (;;) {
        if (found()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(poll_ms);
    }
}

int wait_window(const std::wstring& class_name, DWORD timeout_ms, bool present) {
    const bool ok =
        wait_until(timeout_ms, [&] { return (FindWindowW(class_name.c_str(), nullptr) != nullptr) == present; });
    if (!ok) std::fprintf(stderr, "timed out after %lu ms\n", static_cast<unsigned long>(timeout_ms));
    return ok ? 0 : 1;
}

int read_message_box(DWORD timeout_ms) {
    HWND box = nullptr;
    // A message box is shown a moment after its window exists: wait until its
    // text is in place too, so that nothing half-built is read.
    const bool found = wait_until(timeout_ms, [&] {
        box = FindWindowW(message_box_class, nullptr);
        return box && GetDlgItem(box, message_box_text_id) && IsWindowVisible(box);
    });
    if (!found) {
        std::fprintf(stderr, "no message box within %lu ms\n", static_cast<unsigned long>(timeout_ms));
        return 1;
    }
    print_utf8("caption", window_text(box));
    print_utf8("text", window_text(GetDlgItem(box, message_box_text_id)));
    // OK, as a click on the button would send it.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (!wait_until(timeout_ms, [&] { return !IsWindow(box); })) {
        std::fprintf(stderr, "the message box did not close\n");
        return 1;
    }
    return 0;
}

// A bounded send: a program stuck in a modal loop of its own must not hang us.
bool send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, send_timeout_ms, &answer)) {
        std::fprintf(stderr, "the window did not answer message %u (error %lu)\n", message, GetLastError());
        return false;
    }
    result = static_cast<LRESULT>(answer);
    return true;
}

int send_command(const std::wstring& class_name, WPARAM id) {
    HWND window = FindWindowW(class_name.c_str(), nullptr);
    if (!window) {
        std::fprintf(stderr, "no window of that class\n");
        return 1;
    }
    LRESULT result = 0;
    return send(window, WM_COMMAND, id, 0, result) ? 0 : 1;
}

int show_visibility(const std::wstring& class_name) {
    HWND window = FindWindowW(class_name.c_str(), nullptr);
    if (!window) {
        std::fprintf(stderr, "no window of that class\n");
        return 1;
    }
    std::printf("%s\n", IsWindowVisible(window) ? "visible" : "hidden");
    return 0;
}

// The system copies list-box texts across processes, so the log window can be
// read from here as the user reads it.
int print_log(const std::wstring& class_name) {
    HWND window = FindWindowW(class_name.c_str(), nullptr);
    if (!window) {
        std::fprintf(stderr, "no window of that class\n");
        return 1;
    }
    LRESULT count = 0;
    if (!send(window, LB_GETCOUNT, 0, 0, count)) return 1;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!send(window, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, length) || length == LB_ERR) return 1;
        std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
        LRESULT got = 0;
        if (!send(window, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()), got) ||
            got == LB_ERR)
            return 1;
        item.resize(static_cast<std::size_t>(got));
        std::printf("%s\n", win32::wide_to_utf8(item).c_str());
    }
    return 0;
}

int print_view(const std::wstring& class_name) {
    HWND window = FindWindowW(class_name.c_str(), nullptr);
    if (!window) {
        std::fprintf(stderr, "no window of that class\n");
        return 1;
    }
    LRESULT top = 0, count = 0, height = 0;
    RECT client{};
    if (!send(window, LB_GETTOPINDEX, 0, 0, top) || !send(window, LB_GETCOUNT, 0, 0, count) ||
        !send(window, LB_GETITEMHEIGHT, 0, 0, height) || !GetClientRect(window, &client) || height <= 0)
        return 1;
    std::printf("top %ld count %ld rows %ld\n", static_cast<long>(top), static_cast<long>(count),
                static_cast<long>((client.bottom - client.top) / height));
    return 0;
}

int scroll(const std::wstring& class_name, const std::string& where) {
    HWND window = FindWindowW(class_name.c_str(), nullptr);
    if (!window) {
        std::fprintf(stderr, "no window of that class\n");
        return 1;
    }
    LRESULT ignored = 0;
    const WPARAM code = where == "up" ? SB_PAGEUP : SB_BOTTOM;
    return send(window, WM_VSCROLL, MAKEWPARAM(code, 0), 0, ignored) ? 0 : 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: win_driver wait-window|wait-gone <class> <timeout ms>\n"
                 "       win_driver message-box <timeout ms>\n"
                 "       win_driver command <class> <id>\n"
                 "       win_driver visible <class>\n"
                 "       win_driver log <class>\n"
                 "       win_driver view <class>\n"
                 "       win_driver scroll <class> up|end\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    // UTF-8 bytes and "\n" line ends, as they are.
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string verb = argv[1];
    auto number = [&](int i) { return static_cast<DWORD>(std::strtoul(argv[i], nullptr, 10)); };
    auto wide = [&](int i) { return win32::utf8_to_wide(argv[i]); };
    if ((verb == "wait-window" || verb == "wait-gone") && argc == 4)
        return wait_window(wide(2), number(3), verb == "wait-window");
    if (verb == "message-box" && argc == 3) return read_message_box(number(2));
    if (verb == "command" && argc == 4) return send_command(wide(2), number(3));
    if (verb == "visible" && argc == 3) return show_visibility(wide(2));
    if (verb == "log" && argc == 3) return print_log(wide(2));
    if (verb == "view" && argc == 3) return print_view(wide(2));
    if (verb == "scroll" && argc == 4 && (std::string(argv[3]) == "up" || std::string(argv[3]) == "end"))
        return scroll(wide(2), argv[3]);
    return usage();
}
