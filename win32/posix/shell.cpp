#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "win32/posix/shellapi.hpp"
#include "win32/posix/terminal.hpp"
#include "win32/posix/tray.hpp"
#include "win32/posix/window_registry.hpp"
#include "win32/text.hpp"

// The notification area is the terminal: an added icon prints its tip and a
// hint, and from then on Enter is the right-click on it.

namespace win32::posix {

namespace {

struct Icon {
    HWND window;
    UINT id;
    UINT callback_message;
    bool key_mode;  // this icon put the terminal in key mode
};

struct Tray {
    std::mutex mutex;
    std::vector<Icon> icons;
};

Tray& tray() {
    static auto& t = *new Tray;
    return t;
}

std::wstring tip_of(const NOTIFYICONDATAW& data) {
    const WCHAR* end = std::find(std::begin(data.szTip), std::end(data.szTip), L'\0');
    return std::wstring(data.szTip, end);
}

}  // namespace

std::optional<Tray_Target> tray_target_for(const Thread_Queue* queue) {
    if (!terminal::interactive()) return std::nullopt;
    Tray& t = tray();
    std::lock_guard lock(t.mutex);
    // The latest icon that listens and whose window is this thread's.
    for (auto icon = t.icons.rbegin(); icon != t.icons.rend(); ++icon) {
        if (!icon->key_mode) continue;
        auto window = find_window(icon->window);
        if (window && window->owner.get() == queue) return Tray_Target{icon->window, icon->callback_message, icon->id};
    }
    return std::nullopt;
}

}  // namespace win32::posix

using namespace win32::posix;

BOOL Shell_NotifyIconW(DWORD message, NOTIFYICONDATAW* data) {
    if (!data) return FALSE;
    Tray& t = tray();
    std::unique_lock lock(t.mutex);
    auto found = std::find_if(t.icons.begin(), t.icons.end(),
                              [&](const Icon& i) { return i.window == data->hWnd && i.id == data->uID; });
    switch (message) {
        case NIM_ADD: {
            if (found != t.icons.end() || !IsWindow(data->hWnd)) return FALSE;
            UINT callback = (data->uFlags & NIF_MESSAGE) ? data->uCallbackMessage : 0;
            bool listens = callback != 0 && terminal::interactive();
            t.icons.push_back(Icon{data->hWnd, data->uID, callback, listens});
            lock.unlock();
            if (listens) {
                std::string tip = (data->uFlags & NIF_TIP) ? win32::wide_to_utf8(tip_of(*data)) : std::string();
                terminal::write_error_text((tip.empty() ? std::string() : tip + " \u2014 ") +
                                           "press Enter for the menu\n");
                terminal::enter_key_mode();
            }
            return TRUE;
        }
        case NIM_MODIFY:
            if (found == t.icons.end()) return FALSE;
            if (data->uFlags & NIF_MESSAGE) found->callback_message = data->uCallbackMessage;
            return TRUE;
        case NIM_DELETE: {
            if (found == t.icons.end()) return FALSE;
            bool listened = found->key_mode;
            t.icons.erase(found);
            lock.unlock();
            if (listened) terminal::leave_key_mode();
            return TRUE;
        }
        default: return FALSE;
    }
}
