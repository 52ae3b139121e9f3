#include "zib/log_stream.hpp"

#include "win32/text.hpp"
#include "zib/tray_icon.hpp"

namespace {

// One item, deleting the oldest one beyond the limit. `add` sends or calls
// LB_ADDSTRING, whose answer is the new item's index (the count less one).
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

void Log_Stream::write_string(std::string_view text) {
    std::lock_guard guard(lock);
    pending.append(text);
    std::vector<std::wstring> items;
    std::size_t consumed = 0;
    for (std::size_t end; (end = pending.find('\n', consumed)) != std::string::npos; consumed = end + 1) {
        std::string_view line(pending.data() + consumed, end - consumed);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        items.push_back(win32::utf8_to_wide_strict(line).value_or(L"(BIN)"));
    }
    // The lines leave `pending` whether or not the window takes them.
    pending.erase(0, consumed);
    if (items.empty()) return;

    HWND window = tray_icon.hWnd;
    if (SendMessageW(window, WM_LOG_LINES, 0, reinterpret_cast<LPARAM>(&items)) == 1) return;
    // A plain list box (or a window that has gone): one message per line.
    for (const auto& item : items)
        add_item(item, [&](UINT m, WPARAM w, LPARAM l) { return SendMessageW(window, m, w, l); });
}
