#pragma once
// The log window's stream: every complete line written to it becomes one
// item of the main window's list box, which keeps the last MAX_LOG_LINES.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "win32/windows.hpp"
#include "zib/file_stream.hpp"

constexpr int MAX_LOG_LINES = 1024;

// The main window's own message for a batch of lines, so that one round trip
// to the main thread carries every line waiting at that moment.
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
    // well-formed UTF-8) and keeps the rest for the next write. The lines of
    // one write stay together and in order. Returns once the window's thread
    // has taken every line; lines are lost, without an error, when the window
    // no longer exists.
    void write_string(std::string_view text) override;

private:
    // Writers that arrive while lines are on their way to the main thread
    // queue theirs; the next of them takes every queued line in one message
    // (group commit). Each writer still returns only after its own lines
    // have been taken.
    void send(std::vector<std::wstring>& lines);

    std::mutex lock;
    std::condition_variable taken_changed;
    std::string pending;                // the unfinished line
    std::vector<std::wstring> queued;   // complete lines not yet sent
    std::uint64_t queued_count = 0;     // lines ever queued
    std::atomic<std::uint64_t> taken{0};  // lines ever taken (or lost); written under `lock`
    bool sending = false;
    std::thread::id sender;
};
