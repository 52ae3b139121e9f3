#include "zib/log_stream.hpp"

#include "win32/text.hpp"
#include "zib/tray_icon.hpp"

namespace {

// Set while this thread's announcement is on its way. The thread still runs
// what is sent to its own windows meanwhile; a write from there must not
// wait, since only the end of the announcement releases its writers.
thread_local bool announcing = false;

}  // namespace

Log_Stream::Batch Log_Stream::take_batch() {
    Batch batch;
    std::lock_guard guard(lock);
    batch.lines.swap(queued);
    batch.writers.swap(waiting);
    announced = false;
    return batch;
}

void Log_Stream::release(const Batch& batch) noexcept {
    for (const auto& writer : batch.writers) {
        writer->released.store(1, std::memory_order_release);
        writer->released.notify_one();
    }
}

std::size_t Log_Stream::take_lines(HWND window, WNDPROC list_box, LPARAM lparam) {
    auto& delivery = *reinterpret_cast<Delivery*>(lparam);
    Log_Stream& stream = *delivery.stream;
    stream.window_thread.store(GetCurrentThreadId(), std::memory_order_relaxed);
    // Taken first: if adding fails, the announcing writer still releases them.
    delivery.taken = stream.take_batch();
    const Batch& batch = delivery.taken;
    auto message = [&](UINT m, WPARAM w, LPARAM l) { return CallWindowProcW(list_box, window, m, w, l); };
    for (const auto& line : batch.lines) {
        // LB_ADDSTRING answers the new item's index, the count less one.
        const LRESULT index = message(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        const LRESULT count = index >= 0 ? index + 1 : message(LB_GETCOUNT, 0, 0);
        if (count > MAX_LOG_LINES) message(LB_DELETESTRING, 0, 0);
    }
    return batch.lines.size();
}

bool Log_Stream::on_window_thread(HWND window) const {
    DWORD thread = window_thread.load(std::memory_order_relaxed);
    if (thread == 0) thread = GetWindowThreadProcessId(window, nullptr);
    return thread == GetCurrentThreadId();
}

void Log_Stream::write_string(std::string_view text) {
    std::unique_lock guard(lock);
    pending.append(text);
    std::size_t consumed = 0;
    for (std::size_t end; (end = pending.find('\n', consumed)) != std::string::npos; consumed = end + 1) {
        std::string_view line(pending.data() + consumed, end - consumed);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        queued.push_back(win32::utf8_to_wide_strict(line).value_or(L"(BIN)"));
    }
    if (consumed == 0) return;  // no complete line yet
    pending.erase(0, consumed);

    const HWND window = tray_icon.hWnd;
    // The first writer of a batch announces it; the window's own thread
    // cannot wait for itself, so it takes the lines at once.
    if (!announced || on_window_thread(window)) {
        announced = true;
        guard.unlock();
        Delivery delivery{this, {}};
        bool taken;
        {
            struct Announcing {
                bool outer = announcing;
                Announcing() { announcing = true; }
                ~Announcing() { announcing = outer; }
            } mark;
            taken = SendMessageW(window, WM_LOG_LINES, 0, reinterpret_cast<LPARAM>(&delivery)) == 1;
        }
        release(delivery.taken);
        // No window (any more): the lines waiting are lost, their writers released.
        if (!taken) release(take_batch());
        return;
    }
    // Taken with this thread's own announcement, or the next one.
    if (announcing) return;
    auto me = std::make_shared<Waiter>();
    waiting.push_back(me);
    guard.unlock();
    while (me->released.load(std::memory_order_acquire) == 0) me->released.wait(0, std::memory_order_acquire);
}
