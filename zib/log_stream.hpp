#pragma once
// The log window's stream: every complete line written to it becomes one
// item of the main window's list box, which keeps the last MAX_LOG_LINES.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "win32/windows.hpp"
#include "zib/file_stream.hpp"

constexpr int MAX_LOG_LINES = 1024;

// The main window's own message: take every line waiting in a Log_Stream
// (lParam, see Log_Stream::take_lines). The window answers 1.
constexpr UINT WM_LOG_LINES = WM_APP + 1;

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

    // Runs on the window's thread when it handles WM_LOG_LINES with this
    // lParam: adds every line written so far as items of the list box
    // `window` (through its procedure `list_box`), deleting the oldest beyond
    // MAX_LOG_LINES. Returns the number of lines added.
    static std::size_t take_lines(HWND window, WNDPROC list_box, LPARAM lparam);

private:
    // A writer waiting for its lines to be taken. Shared, because the
    // releasing thread may still be waking it when it has already returned.
    struct Waiter {
        std::atomic<std::uint32_t> released{0};
    };

    // Every queued line and its writers.
    struct Batch {
        std::vector<std::wstring> lines;
        std::vector<std::shared_ptr<Waiter>> writers;
    };
    // What WM_LOG_LINES carries: the window's thread puts the batch it took
    // here, and the announcing writer releases the others and frees the
    // lines, so that the one thread every line passes through does no more
    // than add them.
    struct Delivery {
        Log_Stream* stream;
        Batch taken;
    };

    Batch take_batch();
    static void release(const Batch& batch) noexcept;
    bool on_window_thread(HWND window) const;

    // Held only for moments, never while waiting for the window's thread:
    // that thread takes it too, in take_lines.
    std::mutex lock;
    std::string pending;                           // the unfinished line
    std::vector<std::wstring> queued;              // complete lines not yet taken
    std::vector<std::shared_ptr<Waiter>> waiting;  // their writers, in the order written
    // A WM_LOG_LINES is on its way and will take whatever is queued: later
    // writers only queue and wait, so one round trip serves them all.
    bool announced = false;
    std::atomic<DWORD> window_thread{0};  // the thread that takes the lines, once known
};
