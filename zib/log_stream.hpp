#pragma once
// The log window's stream: every complete line written to it becomes one
// item of the main window's list box, which keeps the last MAX_LOG_LINES.
//
// Lines are handed over, not waited for. A write converts its complete lines
// and queues them; the first write of a batch announces it to the window's
// thread with a notification (SendNotifyMessageW of WM_LOG_LINES, which the
// window's procedure answers with take_lines); that thread takes every line
// queued by then in one go. Then it looks again on a timer of the window
// (every LOG_BATCH_MS, WM_TIMER answered with take_lines_on_timer) for as
// long as lines keep coming, so that a busy proxy wakes it a hundred times a
// second rather than at every write; a look that finds no line ends the
// timer, and the next write announces again. So:
// - at most one announcement is on its way at any time; while the timer
//   runs, one goes only once a sixteenth of the queue is full (a thread busy
//   with posted messages gets no timer messages) or a writer waits at the
//   bound;
// - the lines of one write are queued together, so they stay consecutive, and
//   lines of different writes are queued (and shown) in the order written;
// - the queue holds at most LOG_QUEUE_LINES lines: a writer that finds it
//   full waits, in turn with other such writers, until the window's thread
//   has taken lines; one write's lines may go beyond the bound, never more;
// - the window's thread never waits for a writer: it holds the lock only to
//   swap the queue out, and its own writes take the queue at once;
// - once the window is gone, lines are dropped and no write waits.
//
// While the user is at the end of the list, added lines keep the newest one
// in view; once the user has scrolled up, the same items stay in view.

#include <cstddef>
#include <memory>
#include <string_view>

#include "base/file_stream.hpp"
#include "win32/windows.hpp"

namespace zib {

constexpr int MAX_LOG_LINES = 1024;

// Four window-fuls: room for a burst of connections (each logs a dozen
// lines) while the window's thread is busy for a moment, yet small enough
// (well under a megabyte of text) that a flood cannot grow memory.
constexpr std::size_t LOG_QUEUE_LINES = 4096;

// The main window's own message: take the lines queued in a Log_Stream
// (lParam, see Log_Stream::take_lines). The window answers 1.
constexpr UINT WM_LOG_LINES = WM_APP + 1;

// How often the window's thread looks for more lines while they keep coming:
// soon enough to seem immediate, rarely enough to cost nothing.
constexpr UINT LOG_BATCH_MS = 10;

struct Log_Channel;

class Log_Stream : public base::File_Stream {
public:
    // `queue_lines` is the bound of the queue (tests use small ones).
    explicit Log_Stream(std::size_t queue_lines = LOG_QUEUE_LINES);
    ~Log_Stream() override;

    // Queues each line ended by a line feed for the window (without the line
    // feed and a carriage return before it; "(BIN)" for a line that is not
    // well-formed UTF-8; a zero byte ends the item's text) and keeps the rest
    // for the next write. Returns without waiting for the window's thread,
    // unless the queue is full (see above).
    void write_string(std::string_view text) override;

    // Runs on the window's thread when it handles WM_LOG_LINES with this
    // lParam: adds every line queued so far as items of the list box
    // `window` (through its procedure `list_box`), deleting the oldest beyond
    // MAX_LOG_LINES and keeping the view at the end or where the user left
    // it. Returns the number of lines added. Does nothing for a stream that
    // no longer exists.
    static std::size_t take_lines(HWND window, WNDPROC list_box, LPARAM lparam);

    // Runs on the window's thread for a WM_TIMER of `window` (the timer's id
    // in wParam): as take_lines; once the timer finds no line, or no stream,
    // it ends (all timers of a log window are its streams').
    static std::size_t take_lines_on_timer(HWND window, WNDPROC list_box, WPARAM timer);

private:
    std::shared_ptr<Log_Channel> channel_;  // the queue, shared with a take_lines that may be running
    LPARAM id_;                             // what WM_LOG_LINES carries: take_lines finds the channel by it
};

}  // namespace zib
