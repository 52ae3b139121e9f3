#include "zib/log_stream.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "win32/text.hpp"
#include "zib/tray_icon.hpp"

namespace zib {

namespace {

// WM_LOG_LINES's lParam is a stream's id, an even number; the low bit set
// means the window's own thread wrote and takes the lines itself, with the
// stream's announcement (if any) still on its way. The id also names the
// stream's timer.
constexpr LPARAM own_write = 1;

// Who asks for the lines, which decides what becomes of the announcement.
enum class Asker {
    own_write,     // leaves it as it is
    announcement,  // the timer takes over from it (without a timer, it is over)
    timer,         // a look that finds nothing ends it
};

// A writer waiting for room looks this often whether the window still exists:
// once it is gone, nobody would make room.
constexpr auto window_check = std::chrono::milliseconds(20);

// Beyond this many characters a batch's buffer is given back after use
// rather than kept for the next one.
constexpr std::size_t kept_buffer_chars = std::size_t{1} << 20;

// Converted lines in one buffer, each followed by its terminating zero, so
// that once the buffers have grown no line costs an allocation.
struct Lines {
    std::wstring text;
    std::vector<std::size_t> starts;

    std::size_t size() const noexcept { return starts.size(); }
    const wchar_t* line(std::size_t i) const noexcept { return text.c_str() + starts[i]; }

    void add(std::string_view utf8) {
        if (!utf8.empty() && utf8.back() == '\r') utf8.remove_suffix(1);
        starts.push_back(text.size());
        if (!win32::append_utf8_to_wide_strict(utf8, text)) text.append(L"(BIN)");
        text.push_back(L'\0');
    }
    void clear() noexcept {
        text.clear();
        starts.clear();
    }
    void swap(Lines& other) noexcept {
        text.swap(other.text);
        starts.swap(other.starts);
    }
};

}  // namespace

// The queue between the writers and the window's thread.
struct Log_Channel {
    explicit Log_Channel(std::size_t queue_lines) : limit(queue_lines) {}

    const std::size_t limit;  // of `queued`, in lines
    std::mutex lock;
    std::condition_variable room;  // the window's thread has taken lines
    std::string pending;           // the unfinished line
    Lines queued;                  // complete lines not yet taken
    bool announced = false;        // a WM_LOG_LINES or the timer is on its way and will take `queued`
    bool in_flight = false;        // a WM_LOG_LINES is on its way (at most one is)
    // Writers that found the queue full go on in the order they came.
    std::uint64_t next_ticket = 0, serving = 0;
    // The window last written to and its thread.
    HWND known_window = nullptr;
    DWORD window_thread = 0;

    // The window's thread only.
    Lines taking;           // the batch being added
    bool following = true;  // the view is kept at the end

    bool on_window_thread(HWND window);
    void wait_for_room(std::unique_lock<std::mutex>& guard, HWND window, LPARAM id);
    bool queue_lines(std::string_view text);
    void drop() noexcept;
    bool take(Asker asker, bool timer_set);
};

namespace {

// Every live stream by id, so that a WM_LOG_LINES still on its way when its
// stream is destroyed finds nothing instead of freed memory.
struct Channels {
    std::mutex lock;
    std::map<LPARAM, std::shared_ptr<Log_Channel>> by_id;
    LPARAM last_id = 0;
};

Channels& channels() {
    static auto& all = *new Channels;  // used until the process ends
    return all;
}

std::shared_ptr<Log_Channel> find_channel(LPARAM id) {
    auto& all = channels();
    std::lock_guard guard(all.lock);
    auto found = all.by_id.find(id);
    return found == all.by_id.end() ? nullptr : found->second;
}

// The channel this thread is adding lines of, and whether a write of its own
// asked for lines meanwhile (they are taken after the batch, in order).
thread_local Log_Channel* adding_for = nullptr;
thread_local bool asked_again = false;
thread_local bool asked_by_announcement = false;

// Whole items the list box shows; 0 when it cannot tell (minimised).
LRESULT whole_rows(HWND window, WNDPROC list_box) {
    RECT client{};
    if (!GetClientRect(window, &client)) return 0;
    const LRESULT item = CallWindowProcW(list_box, window, LB_GETITEMHEIGHT, 0, 0);
    return item > 0 ? (client.bottom - client.top) / item : 0;
}

// Adds the lines, deleting the oldest beyond MAX_LOG_LINES. A view at the end
// (the last item shown) stays at the end; otherwise the items in view stay
// in view, moved up by the deleted ones.
void add_to_list(HWND window, WNDPROC list_box, const Lines& lines, bool& following) {
    auto message = [&](UINT m, WPARAM w, LPARAM l) { return CallWindowProcW(list_box, window, m, w, l); };
    const LRESULT top_before = message(LB_GETTOPINDEX, 0, 0);
    if (const LRESULT rows = whole_rows(window, list_box); rows > 0)
        following = top_before + rows >= message(LB_GETCOUNT, 0, 0);
    LRESULT count = 0, deleted = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // LB_ADDSTRING answers the new item's index, the count less one.
        const LRESULT index = message(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lines.line(i)));
        count = index >= 0 ? index + 1 : message(LB_GETCOUNT, 0, 0);
        if (count > MAX_LOG_LINES && message(LB_DELETESTRING, 0, 0) != LB_ERR) {
            --count;
            ++deleted;
        }
    }
    if (count == 0) return;
    // The list scrolls no further than its last page, so the last item
    // asked for at the top means the last page.
    const LRESULT top = following ? count - 1 : std::max<LRESULT>(0, top_before - deleted);
    if (following || message(LB_GETTOPINDEX, 0, 0) != top) message(LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
}

}  // namespace

bool Log_Channel::on_window_thread(HWND window) {
    if (window != known_window) {
        // A new window: an announcement to the old one is not coming back.
        known_window = window;
        window_thread = window ? GetWindowThreadProcessId(window, nullptr) : 0;
        announced = in_flight = false;
    }
    return window_thread != 0 && window_thread == GetCurrentThreadId();
}

void Log_Channel::wait_for_room(std::unique_lock<std::mutex>& guard, HWND window, LPARAM id) {
    if (next_ticket == serving && queued.size() < limit) return;
    const std::uint64_t ticket = next_ticket++;
    for (;;) {
        if (ticket == serving) {
            if (queued.size() < limit) break;
            if (!IsWindow(window)) {
                drop();  // nobody is left to take them
                break;
            }
            if (!in_flight) {
                // Rather than wait for the timer, ask the window's thread now.
                announced = in_flight = true;
                guard.unlock();
                const bool sent = SendNotifyMessageW(window, WM_LOG_LINES, 0, id);
                guard.lock();
                if (sent) continue;  // the lines may already be taken: look again before waiting
                in_flight = false;
            }
        }
        room.wait_for(guard, window_check);
    }
    ++serving;
    room.notify_all();  // the next in turn
}

bool Log_Channel::queue_lines(std::string_view text) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
        pending.append(text);
        return false;
    }
    if (pending.empty()) {
        queued.add(text.substr(0, end));
    } else {
        pending.append(text.substr(0, end));
        queued.add(pending);
        pending.clear();
    }
    std::size_t start = end + 1;
    for (; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1)
        queued.add(text.substr(start, end - start));
    pending.assign(text.substr(start));
    return true;
}

void Log_Channel::drop() noexcept {
    queued.clear();
    announced = in_flight = false;
    room.notify_all();
}

// Swaps the queued lines into `taking`; false when the timer should end.
bool Log_Channel::take(Asker asker, bool timer_set) {
    taking.clear();  // what a failed batch left
    std::lock_guard guard(lock);
    taking.swap(queued);
    room.notify_all();
    if (asker == Asker::announcement) in_flight = false;
    // Cleared under the lock that writers test it under: a write after this
    // announces again, one before it has been taken.
    if ((asker == Asker::announcement && !timer_set) || (asker == Asker::timer && taking.size() == 0)) {
        announced = false;
        return false;
    }
    return true;
}

Log_Stream::Log_Stream(std::size_t queue_lines)
    : channel_(std::make_shared<Log_Channel>(std::max<std::size_t>(queue_lines, 1))) {
    auto& all = channels();
    std::lock_guard guard(all.lock);
    all.last_id += 2;
    id_ = all.last_id;
    all.by_id.emplace(id_, channel_);
}

Log_Stream::~Log_Stream() {
    auto& all = channels();
    std::lock_guard guard(all.lock);
    all.by_id.erase(id_);
}

void Log_Stream::write_string(std::string_view text) {
    Log_Channel& channel = *channel_;
    const HWND window = tray_icon.hWnd;
    std::unique_lock guard(channel.lock);
    const bool own_thread = channel.on_window_thread(window);
    if (!own_thread) channel.wait_for_room(guard, window, id_);
    if (!channel.queue_lines(text)) return;  // no complete line yet
    if (own_thread) {
        // The window's thread cannot wait for itself: it adds the lines now.
        guard.unlock();
        if (SendMessageW(window, WM_LOG_LINES, 0, id_ | own_write) == 1) return;
    } else {
        // Someone takes these too: the announcement on its way, or the timer.
        // A thread that gets no timer messages (they come only when nothing
        // is posted to it) or a flood of lines is asked again once a
        // sixteenth of the queue is full: smaller batches, and writers rarely
        // reach the bound.
        if (channel.announced && (channel.in_flight || channel.queued.size() < channel.limit / 16)) return;
        channel.announced = channel.in_flight = true;
        guard.unlock();
        if (SendNotifyMessageW(window, WM_LOG_LINES, 0, id_)) return;
    }
    // No window (any more): the lines are lost.
    guard.lock();
    channel.drop();
}

namespace {

std::size_t take_batches(HWND window, WNDPROC list_box, LPARAM id, Asker asker) {
    const std::shared_ptr<Log_Channel> channel = find_channel(id);
    if (!channel) {
        if (asker == Asker::timer) KillTimer(window, static_cast<UINT_PTR>(id));  // its stream is gone
        return 0;
    }
    if (adding_for == channel.get()) {
        // Written while this thread adds lines (by something the list box
        // did): queued behind the batch, taken right after it.
        asked_again = true;
        asked_by_announcement = asked_by_announcement || asker == Asker::announcement;
        return 0;
    }
    // Another stream's batch may be under way on this thread: its state comes back after ours.
    struct Restore {
        Log_Channel* channel = adding_for;
        bool again = asked_again, by_announcement = asked_by_announcement;
        ~Restore() {
            adding_for = channel;
            asked_again = again;
            asked_by_announcement = by_announcement;
        }
    } restore;
    adding_for = channel.get();
    std::size_t added = 0;
    do {
        asked_again = asked_by_announcement = false;
        // Set before taking: once the announcement is handed to the timer, a
        // write may count on it.
        const bool timer_set =
            asker == Asker::announcement && SetTimer(window, static_cast<UINT_PTR>(id), LOG_BATCH_MS, nullptr) != 0;
        if (!channel->take(asker, timer_set) && asker == Asker::timer) KillTimer(window, static_cast<UINT_PTR>(id));
        Lines& batch = channel->taking;
        add_to_list(window, list_box, batch, channel->following);
        added += batch.size();
        if (batch.text.capacity() > kept_buffer_chars) {
            Lines{}.swap(batch);
        } else {
            batch.clear();
        }
        asker = asked_by_announcement ? Asker::announcement : Asker::own_write;
    } while (asked_again);
    return added;
}

}  // namespace

std::size_t Log_Stream::take_lines(HWND window, WNDPROC list_box, LPARAM lparam) {
    return take_batches(window, list_box, lparam & ~own_write,
                        (lparam & own_write) ? Asker::own_write : Asker::announcement);
}

std::size_t Log_Stream::take_lines_on_timer(HWND window, WNDPROC list_box, WPARAM timer) {
    return take_batches(window, list_box, static_cast<LPARAM>(timer), Asker::timer);
}

}  // namespace zib
