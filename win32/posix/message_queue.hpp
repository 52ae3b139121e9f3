#pragma once
// Per-thread message queues (internal to the POSIX layer).
//
// A thread gets its queue on first use. Posted messages wait in `posted`
// until the thread asks for them; a message sent from another thread waits
// in `sent` and is run by the owner whenever it waits for anything (in
// GetMessageW, in a modal wait, or in its own SendMessageW to another thread),
// while the sender blocks until `done`. A notification (SendNotifyMessageW)
// travels the same way, but nobody waits for it: the queue owns its record.
// Timers (SetTimer) belong to the queue of the thread that set them; a due
// timer becomes a WM_TIMER when nothing else is waiting for the thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "win32/posix/winuser.hpp"

namespace win32::posix {

class Thread_Queue;

struct Sent_Message {
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    LRESULT result = 0;
    std::atomic<bool> done{false};         // set under the sender's queue mutex, after `result`
    std::shared_ptr<Thread_Queue> sender;  // woken when done; null for a notification, deleted when done
};

using Clock = std::chrono::steady_clock;

struct Timer {
    HWND window;  // null for a timer of the thread itself
    UINT_PTR id;
    TIMERPROC procedure;
    std::chrono::milliseconds interval;
    Clock::time_point due;
};

class Thread_Queue {
public:
    Thread_Queue() = default;
    Thread_Queue(const Thread_Queue&) = delete;
    Thread_Queue& operator=(const Thread_Queue&) = delete;
    ~Thread_Queue();

    // Wakes the owner from any wait; the caller holds `mutex`.
    void wake_locked();

    DWORD thread_id = 0;  // of the owner

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<MSG> posted;
    std::deque<Sent_Message*> sent;
    bool quit_posted = false;
    int quit_code = 0;
    std::vector<Timer> timers;
    UINT_PTR last_thread_timer = 0;  // ids of timers without a window are counted from here
    bool closed = false;             // the thread has ended: nothing more is taken
    int wake_fd = -1;                // made when the owner first waits on file descriptors too
    // The owner sleeps in poll: only then does a wake need the descriptor
    // (set under `mutex`, so a waker holding it sees the current state).
    std::atomic<bool> polling{false};
};

// The calling thread's queue, made on first use.
std::shared_ptr<Thread_Queue> current_queue();
bool is_current_queue(const Thread_Queue* queue) noexcept;

// Queues `message` on `owner`; false when the owner's thread has ended.
// The caller holds the window registry lock, so that a window's destruction
// cannot slip between its lookup and the queueing.
bool queue_sent_message(Thread_Queue& owner, Sent_Message& message);
bool queue_posted_message(Thread_Queue& owner, const MSG& message);

// Completes every queued send to `window` with 0 (the window has gone).
void release_sends_to(Thread_Queue& owner, HWND window);

// Forgets the window's timers (it is going).
void forget_timers_of(Thread_Queue& owner, HWND window);

// The WM_TIMER of the first due timer (of `window`, if not null), which then
// starts its next interval; none if no timer is due. The caller holds `mutex`.
std::optional<MSG> take_due_timer_locked(Thread_Queue& queue, HWND window);

// When the next timer (of `window`, if not null) is due; none without
// timers. The caller holds `mutex`.
std::optional<Clock::time_point> next_timer_due_locked(const Thread_Queue& queue, HWND window);

// Runs one sent message waiting for the calling thread; false if none.
bool run_one_sent_message(Thread_Queue& queue);

// What ended a wait for input.
struct Wait_Result {
    bool close_requested = false;  // SIGINT or SIGTERM: modal waits give up
    bool input_ended = false;      // the terminal's input closed
};

// Blocks until the calling thread has a sent message to run (or a posted one,
// if `posted_too`), terminal input (if `read_keys`), a signal to act on or
// the time `due` (a timer's) has come. Runs no message itself; keys read go
// to the terminal's key buffer.
Wait_Result wait_for_input(Thread_Queue& queue, bool posted_too, bool read_keys,
                           std::optional<Clock::time_point> due = std::nullopt);

// A modal wait (menus, message boxes): runs sent messages and due timers, as
// the modal loops of Windows do, until a key is in
// the terminal's buffer (true), or gives up (false) when there is no
// terminal to wait for, its input ends, or SIGINT/SIGTERM asks to close.
// Posted messages stay queued for the message loop.
bool wait_for_key();

}  // namespace win32::posix
