#include "win32/posix/message_queue.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "win32/posix/signals.hpp"
#include "win32/posix/terminal.hpp"
#include "win32/posix/tray.hpp"
#include "win32/posix/window_registry.hpp"

namespace win32::posix {

namespace {

void complete(Sent_Message& message, LRESULT result) {
    if (!message.sender) {
        delete &message;  // a notification: nobody waits for it
        return;
    }
    // The sender may return (and its record vanish) as soon as `done` is
    // set, so keep our own reference to its queue.
    std::shared_ptr<Thread_Queue> sender = message.sender;
    std::lock_guard lock(sender->mutex);
    message.result = result;
    message.done.store(true, std::memory_order_release);
    sender->wake_locked();
}

// Ends a thread's queue when the thread ends: its windows go, and every
// sender still waiting for it is released.
struct Queue_Holder {
    std::shared_ptr<Thread_Queue> queue;
    ~Queue_Holder() {
        if (!queue) return;
        forget_windows_of(queue.get());
        std::deque<Sent_Message*> waiting;
        {
            std::lock_guard lock(queue->mutex);
            queue->closed = true;
            waiting.swap(queue->sent);
            queue->posted.clear();
            queue->timers.clear();
        }
        for (Sent_Message* message : waiting) complete(*message, 0);
    }
};

thread_local Queue_Holder holder;

DWORD tick_count() {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// GetMessageW's range: from `first` to `last`, or every message when both are 0.
bool in_range(UINT message, UINT first, UINT last) {
    return (first == 0 && last == 0) || (message >= first && message <= last);
}

bool matches(const MSG& message, HWND window, UINT first, UINT last) {
    return (!window || message.hwnd == window) && in_range(message.message, first, last);
}

// Takes keys up to the first Enter; other keys mean nothing outside a menu.
bool enter_pressed() {
    for (int key; (key = terminal::take_key()) >= 0;)
        if (key == '\n' || key == '\r') return true;
    return false;
}

// Milliseconds for poll until `due`, rounded up so that the wait does not end
// just before it; -1 (no limit) without a due time.
int poll_timeout(std::optional<Clock::time_point> due) {
    using namespace std::chrono;
    if (!due) return -1;
    const auto left = ceil<milliseconds>(*due - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1000 * 60 * 60));
}

void drain(int fd) {
    std::uint64_t count;
    while (::read(fd, &count, sizeof count) > 0) {
    }
}

}  // namespace

Thread_Queue::~Thread_Queue() {
    if (wake_fd >= 0) ::close(wake_fd);
}

void Thread_Queue::wake_locked() {
    changed.notify_all();
    if (wake_fd >= 0 && polling.load(std::memory_order_relaxed)) {
        std::uint64_t one = 1;
        // Non-blocking: a full counter already means "wake up".
        [[maybe_unused]] auto written = ::write(wake_fd, &one, sizeof one);
    }
}

std::shared_ptr<Thread_Queue> current_queue() {
    if (!holder.queue) {
        holder.queue = std::make_shared<Thread_Queue>();
        holder.queue->thread_id = GetCurrentThreadId();
    }
    return holder.queue;
}

bool is_current_queue(const Thread_Queue* queue) noexcept { return queue && holder.queue.get() == queue; }

bool queue_sent_message(Thread_Queue& owner, Sent_Message& message) {
    std::lock_guard lock(owner.mutex);
    if (owner.closed) return false;
    owner.sent.push_back(&message);
    owner.wake_locked();
    return true;
}

bool queue_posted_message(Thread_Queue& owner, const MSG& message) {
    std::lock_guard lock(owner.mutex);
    if (owner.closed) return false;
    owner.posted.push_back(message);
    owner.wake_locked();
    return true;
}

void release_sends_to(Thread_Queue& owner, HWND window) {
    std::deque<Sent_Message*> released;
    {
        std::lock_guard lock(owner.mutex);
        auto gone = std::stable_partition(owner.sent.begin(), owner.sent.end(),
                                          [&](Sent_Message* m) { return m->window != window; });
        released.assign(gone, owner.sent.end());
        owner.sent.erase(gone, owner.sent.end());
    }
    for (Sent_Message* message : released) complete(*message, 0);
}

void forget_timers_of(Thread_Queue& owner, HWND window) {
    std::lock_guard lock(owner.mutex);
    std::erase_if(owner.timers, [&](const Timer& t) { return t.window == window; });
}

std::optional<MSG> take_due_timer_locked(Thread_Queue& queue, HWND window) {
    const auto now = Clock::now();
    Timer* first = nullptr;
    for (Timer& timer : queue.timers)
        if ((!window || timer.window == window) && timer.due <= now && (!first || timer.due < first->due))
            first = &timer;
    if (!first) return std::nullopt;
    // One message however many intervals have passed, as on Windows.
    first->due = now + first->interval;
    return MSG{first->window, WM_TIMER, first->id, reinterpret_cast<LPARAM>(first->procedure), tick_count(), {0, 0}};
}

std::optional<Clock::time_point> next_timer_due_locked(const Thread_Queue& queue, HWND window) {
    std::optional<Clock::time_point> next;
    for (const Timer& timer : queue.timers)
        if ((!window || timer.window == window) && (!next || timer.due < *next)) next = timer.due;
    return next;
}

bool run_one_sent_message(Thread_Queue& queue) {
    Sent_Message* message;
    {
        std::lock_guard lock(queue.mutex);
        if (queue.sent.empty()) return false;
        message = queue.sent.front();
        queue.sent.pop_front();
    }
    // Completes the send also when the procedure throws: the sender must
    // never be left waiting.
    struct Completion {
        Sent_Message& message;
        LRESULT result = 0;
        ~Completion() { complete(message, result); }
    } completion{*message};
    auto window = find_window(message->window);
    if (window && window->owner.get() == &queue)
        completion.result = call_procedure(*window, message->message, message->wparam, message->lparam);
    return true;
}

Wait_Result wait_for_input(Thread_Queue& queue, bool posted_too, bool read_keys, std::optional<Clock::time_point> due) {
    Wait_Result result;
    pollfd fds[3];
    nfds_t count = 0;
    {
        std::unique_lock lock(queue.mutex);
        auto ready = [&] {
            return !queue.sent.empty() || (posted_too && (!queue.posted.empty() || queue.quit_posted));
        };
        if (ready()) return result;
        int signals = signal_pipe();
        if (signals < 0 && !read_keys) {
            if (due)
                queue.changed.wait_until(lock, *due, ready);
            else
                queue.changed.wait(lock, ready);
            return result;
        }
        if (queue.wake_fd < 0) queue.wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (queue.wake_fd < 0) {
            // No descriptor to spare: still wake for messages, if not for input.
            queue.changed.wait_until(
                lock, std::min(Clock::now() + std::chrono::milliseconds(100), due.value_or(Clock::time_point::max())),
                ready);
            return result;
        }
        fds[count++] = {queue.wake_fd, POLLIN, 0};
        if (signals >= 0) fds[count++] = {signals, POLLIN, 0};
        if (read_keys) fds[count++] = {STDIN_FILENO, POLLIN, 0};
        queue.polling.store(true, std::memory_order_relaxed);
    }
    // A wake between the check above and the poll stays in the event counter.
    while (::poll(fds, count, poll_timeout(due)) < 0 && errno == EINTR) {
    }
    queue.polling.store(false, std::memory_order_relaxed);
    if (fds[0].revents) drain(fds[0].fd);
    for (nfds_t i = 1; i < count; ++i) {
        if (!fds[i].revents) continue;
        if (fds[i].fd == STDIN_FILENO) {
            if (!terminal::read_keys()) result.input_ended = true;
        } else {
            result.close_requested = dispatch_signals();
        }
    }
    return result;
}

namespace {

// Runs the first due timer, if any; `next_due` is when the next one will be.
bool dispatch_due_timer(Thread_Queue& queue, std::optional<Clock::time_point>& next_due) {
    std::optional<MSG> timer;
    {
        std::lock_guard lock(queue.mutex);
        timer = take_due_timer_locked(queue, nullptr);
        next_due = next_timer_due_locked(queue, nullptr);
    }
    if (timer) DispatchMessageW(&*timer);
    return timer.has_value();
}

}  // namespace

bool wait_for_key() {
    auto queue = current_queue();
    for (std::optional<Clock::time_point> next_due;;) {
        if (run_one_sent_message(*queue)) continue;
        if (terminal::has_keys()) return true;
        if (dispatch_due_timer(*queue, next_due)) continue;
        if (!terminal::interactive()) return false;
        Wait_Result input = wait_for_input(*queue, false, true, next_due);
        if (input.close_requested || input.input_ended) return false;
    }
}

}  // namespace win32::posix

using namespace win32::posix;

BOOL GetMessageW(MSG* msg, HWND window, UINT first, UINT last) {
    auto queue = current_queue();
    const bool timers_too = in_range(WM_TIMER, first, last);
    for (;;) {
        if (run_one_sent_message(*queue)) continue;
        std::optional<Clock::time_point> next_due;  // of a timer this call may return
        {
            std::lock_guard lock(queue->mutex);
            if (!queue->sent.empty()) continue;
            auto found = std::find_if(queue->posted.begin(), queue->posted.end(),
                                      [&](const MSG& m) { return matches(m, window, first, last); });
            if (found != queue->posted.end()) {
                *msg = *found;
                queue->posted.erase(found);
                return msg->message != WM_QUIT;
            }
            if (queue->quit_posted) {
                queue->quit_posted = false;
                *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quit_code), 0, tick_count(), {0, 0}};
                return FALSE;
            }
            if (timers_too) {
                if (auto timer = take_due_timer_locked(*queue, window)) {
                    *msg = *timer;
                    return TRUE;
                }
                next_due = next_timer_due_locked(*queue, window);
            }
        }
        auto tray = tray_target_for(queue.get());
        if (tray && enter_pressed()) {
            // Enter plays the right-click on the icon.
            PostMessageW(tray->window, tray->callback_message, tray->id, WM_RBUTTONUP);
            continue;
        }
        wait_for_input(*queue, true, tray.has_value(), next_due);
    }
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, tick_count());
        return 0;
    }
    if (!msg->hwnd) return 0;
    auto window = find_window(msg->hwnd);
    if (!window || !is_current_queue(window->owner.get())) return 0;
    return call_procedure(*window, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MSG msg{window, message, wparam, lparam, tick_count(), {0, 0}};
    if (!window) return queue_posted_message(*current_queue(), msg);
    auto& registry = window_registry();
    std::shared_ptr<Thread_Queue> owner;
    {
        std::lock_guard lock(registry.mutex);
        auto found = registry.windows.find(window);
        if (found == registry.windows.end()) return FALSE;
        owner = found->second->owner;
    }
    return queue_posted_message(*owner, msg);
}

void PostQuitMessage(int exit_code) {
    auto queue = current_queue();
    std::lock_guard lock(queue->mutex);
    queue->quit_posted = true;
    queue->quit_code = exit_code;
    queue->wake_locked();
}

LRESULT SendMessageW(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    auto me = current_queue();
    Sent_Message sent{handle, message, wparam, lparam, 0, false, me};
    auto& registry = window_registry();
    std::shared_ptr<Thread_Queue> owner;
    {
        std::unique_lock lock(registry.mutex);
        auto found = registry.windows.find(handle);
        if (found == registry.windows.end()) return 0;
        std::shared_ptr<Window> window = found->second;
        if (window->owner == me) {
            lock.unlock();
            return call_procedure(*window, message, wparam, lparam);
        }
        // Queued under the registry lock: a destruction either happens
        // before (and we see no window) or after (and releases this send).
        owner = window->owner;
        if (!queue_sent_message(*owner, sent)) return 0;
    }
    // While waiting, run what others send to us: two threads sending to
    // each other's windows both make progress.
    auto wait_for_reply = [&](bool rethrow) {
        for (;;) {
            {
                std::unique_lock lock(me->mutex);
                me->changed.wait(lock, [&] { return sent.done.load() || !me->sent.empty(); });
                if (sent.done.load()) return;
            }
            try {
                run_one_sent_message(*me);
            } catch (...) {
                if (rethrow) throw;
            }
        }
    };
    try {
        wait_for_reply(true);
    } catch (...) {
        // One of our own procedures failed while we waited. Our record must
        // not outlive this call in the owner's queue: take it back, or wait
        // for the reply if the owner is running it (errors met meanwhile
        // give way to the first one).
        {
            std::lock_guard lock(owner->mutex);
            auto queued = std::find(owner->sent.begin(), owner->sent.end(), &sent);
            if (queued != owner->sent.end()) {
                owner->sent.erase(queued);
                throw;
            }
        }
        wait_for_reply(false);
        throw;
    }
    return sent.result;
}

BOOL SendNotifyMessageW(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    auto me = current_queue();
    auto& registry = window_registry();
    std::unique_lock lock(registry.mutex);
    auto found = registry.windows.find(handle);
    if (found == registry.windows.end()) return FALSE;
    std::shared_ptr<Window> window = found->second;
    if (window->owner == me) {
        lock.unlock();
        call_procedure(*window, message, wparam, lparam);
        return TRUE;
    }
    // Queued under the registry lock, as a send is; the owner's queue frees
    // the record once it has run it or given it up.
    auto* notification = new Sent_Message{handle, message, wparam, lparam, 0, false, nullptr};
    if (queue_sent_message(*window->owner, *notification)) return TRUE;
    delete notification;
    return FALSE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
    auto queue = current_queue();
    if (window) {
        auto found = find_window(window);
        // Only the window's own thread may time it.
        if (!found || found->owner != queue) return 0;
    }
    const auto interval = std::chrono::milliseconds(std::clamp(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    std::lock_guard lock(queue->mutex);
    auto existing = std::find_if(queue->timers.begin(), queue->timers.end(),
                                 [&](const Timer& t) { return t.window == window && t.id == id; });
    if (existing == queue->timers.end() || (!window && id == 0)) {
        if (!window) {
            // A thread's timer gets a new id, one no other timer of the thread has.
            do {
                id = ++queue->last_thread_timer;
            } while (id == 0 || std::any_of(queue->timers.begin(), queue->timers.end(),
                                            [&](const Timer& t) { return !t.window && t.id == id; }));
        }
        queue->timers.push_back(Timer{window, id, procedure, interval, Clock::now() + interval});
    } else {
        *existing = Timer{window, id, procedure, interval, Clock::now() + interval};
    }
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    auto queue = current_queue();
    std::lock_guard lock(queue->mutex);
    const auto removed = std::erase_if(queue->timers, [&](const Timer& t) { return t.window == window && t.id == id; });
    return removed > 0;
}
