#pragma once
// The log window's stream: every complete line written to it becomes one
// item of the main window's list box, which keeps the last MAX_LOG_LINES.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "win32/windows.hpp"
#include "zib/file_stream.hpp"

constexpr int MAX_LOG_LINES = 1024;

// The main window's own message for the lines of one write, so that a write
// costs one round trip to the main thread however many lines it holds.
// lParam points to a std::vector<std::wstring>; the window answers 1.
constexpr UINT WM_LOG_LINES = WM_APP + 1;

// Adds the lines as items of the list box `window` through its procedure
// `list_box`, deleting the oldest item while more than MAX_LOG_LINES are held.
// Runs on the window's thread.
void add_log_lines(HWND window, WNDPROC list_box, const std::vector<std::wstring>& lines);

class Log_Stream : public File_Stream {
public:
    Log_Stream() = default;

    // Adds each line ended by a line feed to the window (without the line
    // feed and a carriage return before it; "(BIN)" for a line that is not
    // well-formed UTF-8) and keeps the rest for the next write. Returns once
    // the window's thread has taken every line; lines are lost, without an
    // error, when the window no longer exists.
    void write_string(std::string_view text) override;

private:
    // Re-entrant: a write may come back to this stream from the same thread.
    std::recursive_mutex lock;
    std::string pending;
};
