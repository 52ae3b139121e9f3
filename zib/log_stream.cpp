#include "zib/log_stream.hpp"

#include "win32/text.hpp"
#include "win32/windows.hpp"
#include "zib/tray_icon.hpp"

void Log_Stream::write_string(std::string_view text) {
    std::lock_guard guard(lock);
    pending.append(text);
    // Lines already added leave `pending` even if a later one fails.
    struct Consumed {
        std::string& pending;
        std::size_t count = 0;
        ~Consumed() { pending.erase(0, count); }
    } consumed{pending};
    for (std::size_t end; (end = pending.find('\n', consumed.count)) != std::string::npos;) {
        std::string_view line(pending.data() + consumed.count, end - consumed.count);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::wstring item = win32::utf8_to_wide_strict(line).value_or(L"(BIN)");
        HWND window = tray_icon.hWnd;
        SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        consumed.count = end + 1;
        if (SendMessageW(window, LB_GETCOUNT, 0, 0) > MAX_LOG_LINES) SendMessageW(window, LB_DELETESTRING, 0, 0);
    }
}
