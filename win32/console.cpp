#include "win32/console.hpp"

#ifdef _WIN32
#include "win32/text.hpp"
#include "win32/windows.hpp"
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace win32 {

#ifdef _WIN32

std::vector<std::string> command_line_arguments() {
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (!list) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(wide_to_utf8(list[i]));
    LocalFree(list);
    return arguments;
}

namespace {

bool usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

bool write_handle(DWORD which, std::string_view bytes) {
    HANDLE handle = GetStdHandle(which);
    if (!usable(handle)) return false;
    DWORD mode;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring text = utf8_to_wide(bytes);
        std::size_t done = 0;
        while (done < text.size()) {
            DWORD wrote = 0;
            DWORD chunk = static_cast<DWORD>(text.size() - done > 16384 ? 16384 : text.size() - done);
            if (!WriteConsoleW(handle, text.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
            done += wrote;
        }
        return true;
    }
    while (!bytes.empty()) {
        DWORD wrote = 0;
        DWORD chunk = static_cast<DWORD>(bytes.size() > (1u << 30) ? (1u << 30) : bytes.size());
        if (!WriteFile(handle, bytes.data(), chunk, &wrote, nullptr) || wrote == 0) return false;
        bytes.remove_prefix(wrote);
    }
    return true;
}

}  // namespace

void attach_parent_console() {
    const DWORD streams[] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    bool missing = false;
    for (DWORD which : streams) missing = missing || !usable(GetStdHandle(which));
    if (!missing || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    // Redirected streams stay as they are; the others write to the console.
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (!usable(console)) return;
    for (DWORD which : streams)
        if (!usable(GetStdHandle(which))) SetStdHandle(which, console);
}

bool write_output(std::string_view bytes) { return write_handle(STD_OUTPUT_HANDLE, bytes); }
bool write_error(std::string_view bytes) { return write_handle(STD_ERROR_HANDLE, bytes); }

#else

namespace {

std::vector<std::string> kept_arguments;

bool write_descriptor(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t wrote = ::write(descriptor, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

}  // namespace

void set_command_line_arguments(int count, char** arguments) {
    kept_arguments.assign(arguments + (count > 0 ? 1 : 0), arguments + count);
}

std::vector<std::string> command_line_arguments() { return kept_arguments; }

void attach_parent_console() {}

bool write_output(std::string_view bytes) { return write_descriptor(1, bytes); }
bool write_error(std::string_view bytes) { return write_descriptor(2, bytes); }

#endif

}  // namespace win32
