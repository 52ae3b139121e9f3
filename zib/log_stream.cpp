#include "zib/log_stream.hpp"

#include <chrono>

#include "win32/text.hpp"
#include "zib/tray_icon.hpp"

namespace {

// One item, deleting the oldest one beyond the limit. `message` sends or
// calls LB_ADDSTRING, whose answer is the new item's index (the count less one).
template <class Message>
void add_item(const std::wstring& item, Message message) {
    LRESULT index = message(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    LRESULT count = index >= 0 ? index + 1 : message(LB_GETCOUNT, 0, 0);
    if (count > MAX_LOG_LINES) message(LB_DELETESTRING, 0, 0);
}

}  // namespace

void add_log_lines(HWND window, WNDPROC list_box, const std::vector<std::wstring>& lines) {
    for (const auto& line : lines)
        add_item(line, [&](UINT m, WPARAM w, LPARAM l) { return CallWindowProcW(list_box, window, m, w, l); });
}

void Log_Stream::send(std::vector<std::wstring>& lines) {
    HWND window = tray_icon.hWnd;
    if (SendMessageW(window, WM_LOG_LINES, 0, reinterpret_cast<LPARAM>(&lines)) == 1) return;
    // A plain list box (or a window that has gone): one message per line.
    for (const auto& item : lines)
        add_item(item, [&](UINT m, WPARAM w, LPARAM l) { return SendMessageW(window, m, w, l); });
}

void Log_Stream::write_string(std::string_view text) {
    std::unique_lock guard(lock);
    pending.append(text);
    std::size_t consumed = 0;
    for (std::size_t end; (end = pending.find('\n', consumed)) != std::string::npos; consumed = end + 1) {
        std::string_view line(pending.data() + consumed, end - consumed);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        queued.push_back(win32::utf8_to_wide_strict(line).value_or(L"(BIN)"));
        ++queued_count;
    }
    pending.erase(0, consumed);
    const std::uint64_t mine = queued_count;

    // A write made while this thread is itself sending (from inside that
    // send) must not wait for itself: its lines go with the next batch.
    if (sending && sender == std::this_thread::get_id()) return;

    while (taken.load() < mine) {
        if (sending) {
            // The batch on its way usually comes back within microseconds:
            // wait a little without sleeping first.
            guard.unlock();
            const auto start = std::chrono::steady_clock::now();
            while (taken.load(std::memory_order_acquire) < mine &&
                   std::chrono::steady_clock::now() - start < std::chrono::microseconds(50))
                std::this_thread::yield();
            guard.lock();
            if (taken.load() < mine && sending) taken_changed.wait(guard);
            continue;
        }
        // Nobody is sending: this writer takes every queued line.
        sending = true;
        sender = std::this_thread::get_id();
        std::vector<std::wstring> batch;
        batch.swap(queued);
        const std::uint64_t batch_end = queued_count;
        guard.unlock();
        struct Done {
            Log_Stream& stream;
            std::unique_lock<std::mutex>& guard;
            std::uint64_t batch_end;
            ~Done() {
                // Taken, or lost with a window that has gone, or failed: either
                // way the writers of the batch are released.
                guard.lock();
                stream.sending = false;
                stream.taken.store(batch_end, std::memory_order_release);
                stream.taken_changed.notify_all();
            }
        } done{*this, guard, batch_end};
        send(batch);
    }
}
