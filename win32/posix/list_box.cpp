#include <algorithm>
#include <string>

#include "win32/posix/terminal.hpp"
#include "win32/posix/window_registry.hpp"
#include "win32/text.hpp"

// The system list box: an unsorted list of strings. While its window is
// shown, every added string is also written to the terminal as a line.
// It keeps a scroll position (the top item) as the real one does, so that
// code that keeps a line in view behaves alike on both systems: items are
// ITEM_HEIGHT pixels tall, a page is as many whole items as the client area
// holds, and the top item never goes past the last full page.

namespace win32::posix {

namespace {

constexpr LRESULT ITEM_HEIGHT = 16;
constexpr UINT LB_FIRST = 0x0180, LB_LAST = 0x01A9;  // the system's range of list-box messages

void echo(const std::wstring& item) { terminal::write_output_line(win32::wide_to_utf8(item)); }

// The last top item that still fills a page (at least one item is a page).
std::size_t max_top(HWND handle, std::size_t count) {
    RECT client{};
    GetClientRect(handle, &client);
    const auto page = std::max<std::size_t>(1, static_cast<std::size_t>((client.bottom - client.top) / ITEM_HEIGHT));
    return count > page ? count - page : 0;
}

}  // namespace

LRESULT CALLBACK list_box_procedure(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    auto window = find_window(handle);
    if (!window) return 0;
    switch (message) {
        case WM_NCCREATE: window->is_list_box = true; return TRUE;
        case WM_CLOSE: DestroyWindow(handle); return 0;
        case WM_SYSCOMMAND:
            if ((wparam & 0xFFF0) == SC_CLOSE) SendMessageW(handle, WM_CLOSE, 0, 0);
            return 0;
        default: break;
    }
    if (!window->is_list_box) return message >= LB_FIRST && message <= LB_LAST ? LB_ERR : 0;
    auto& items = window->items;
    switch (message) {
        case LB_ADDSTRING: {
            auto text = reinterpret_cast<LPCWSTR>(lparam);
            // A full log deletes an item for every one it adds: reusing its
            // storage saves an allocation and a release per line.
            std::wstring item = std::move(window->spare);
            item.assign(text ? text : L"");
            items.push_back(std::move(item));
            bool shown;
            {
                std::lock_guard lock(window_registry().mutex);
                shown = window->shown();
            }
            if (shown) echo(items.back());
            return static_cast<LRESULT>(items.size() - 1);
        }
        case LB_GETCOUNT: return static_cast<LRESULT>(items.size());
        case LB_DELETESTRING:
            if (wparam >= items.size()) return LB_ERR;
            window->spare = std::move(items[wparam]);
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(wparam));
            // The top index stays, as far as the list still reaches.
            window->top = std::min(window->top, max_top(handle, items.size()));
            return static_cast<LRESULT>(items.size());
        case LB_GETTEXTLEN:
            if (wparam >= items.size()) return LB_ERR;
            return static_cast<LRESULT>(items[wparam].size());
        case LB_GETTEXT: {
            if (wparam >= items.size() || !lparam) return LB_ERR;
            const std::wstring& item = items[wparam];
            auto out = reinterpret_cast<LPWSTR>(lparam);
            item.copy(out, item.size());
            out[item.size()] = L'\0';
            return static_cast<LRESULT>(item.size());
        }
        case LB_GETTOPINDEX: return static_cast<LRESULT>(window->top);
        case LB_SETTOPINDEX:
            if (wparam > 0 && wparam >= items.size()) return LB_ERR;
            window->top = std::min(static_cast<std::size_t>(wparam), max_top(handle, items.size()));
            return 0;
        case LB_GETITEMHEIGHT: return ITEM_HEIGHT;
        case WM_SHOWWINDOW:
            // Shown again: the screen shows what the list holds.
            if (wparam)
                for (const auto& item : items) echo(item);
            return 0;
        default: return 0;
    }
}

}  // namespace win32::posix
