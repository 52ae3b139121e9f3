#include <cctype>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "win32/posix/message_queue.hpp"
#include "win32/posix/terminal.hpp"
#include "win32/posix/winuser.hpp"
#include "win32/text.hpp"

// Popup menus on the terminal: one line with the items' '&' letters in
// brackets, "[S]how [H]ide | [R]eload | [E]xit"; a letter chooses, Esc or
// Enter closes the menu without a choice.

namespace {

struct Menu_Item {
    UINT flags;
    UINT_PTR id;
    std::wstring text;
};

struct Menus {
    std::mutex mutex;
    std::map<HMENU, std::vector<Menu_Item>> menus;
    std::uintptr_t last_handle = 0x20000;
};

Menus& menus() {
    static auto& m = *new Menus;
    return m;
}

constexpr int escape = 0x1B;

// "&Show" -> "[S]how", "&&" -> "&"; `key` gets the letter (lower case).
std::string label(const std::wstring& text, int& key) {
    std::wstring out;
    key = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != L'&' && key < 0) {
                if (text[i] < 0x80) key = static_cast<int>(std::tolower(static_cast<int>(text[i])));
                out += L'[';
                out += text[i];
                out += L']';
                continue;
            }
        }
        out += text[i];
    }
    return win32::wide_to_utf8(out);
}

// Skips the rest of a key sequence (an arrow key sends ESC [ A, ...).
void skip_sequence() {
    int key = win32::posix::terminal::take_key();
    if (key != '[' && key != 'O') return;
    while ((key = win32::posix::terminal::take_key()) >= 0)
        if (key >= 0x40 && key <= 0x7E) return;
}

}  // namespace

HMENU CreatePopupMenu() {
    auto& m = menus();
    std::lock_guard lock(m.mutex);
    auto handle = reinterpret_cast<HMENU>(m.last_handle += 4);
    m.menus[handle];
    return handle;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text) {
    auto& m = menus();
    std::lock_guard lock(m.mutex);
    auto found = m.menus.find(menu);
    if (found == m.menus.end()) return FALSE;
    bool separator = (flags & MF_SEPARATOR) != 0;
    found->second.push_back(Menu_Item{flags, separator ? 0 : id, !separator && text ? text : L""});
    return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
    auto& m = menus();
    std::lock_guard lock(m.mutex);
    return m.menus.erase(menu) ? TRUE : FALSE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int, int, int, HWND owner, const RECT*) {
    using namespace win32::posix;
    std::vector<Menu_Item> items;
    {
        auto& m = menus();
        std::lock_guard lock(m.mutex);
        auto found = m.menus.find(menu);
        if (found == m.menus.end()) return FALSE;
        items = found->second;
    }
    if (!terminal::interactive()) return FALSE;

    std::string prompt;
    std::map<int, UINT_PTR> keys;
    for (const auto& item : items) {
        if (item.flags & MF_SEPARATOR) {
            prompt += " |";
            continue;
        }
        int key;
        std::string text = label(item.text, key);
        if (key >= 0) keys.emplace(key, item.id);
        if (!prompt.empty()) prompt += ' ';
        prompt += text;
    }
    prompt += "   (Esc closes)";

    // Keys come one at a time while the menu is open.
    terminal::enter_key_mode();
    terminal::show_prompt(prompt);
    UINT_PTR chosen = 0;
    bool done = false;
    while (!done && wait_for_key()) {
        for (int key; !done && (key = terminal::take_key()) >= 0;) {
            if (key == escape) {
                if (terminal::has_keys()) {
                    skip_sequence();
                    continue;
                }
                done = true;
            } else if (key == '\n' || key == '\r') {
                done = true;
            } else if (auto found = keys.find(key < 0x80 ? std::tolower(key) : key); found != keys.end()) {
                chosen = found->second;
                done = true;
            }
        }
    }
    terminal::clear_prompt();
    terminal::leave_key_mode();

    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
    // The choice arrives afterwards, as on the desktop.
    if (chosen) PostMessageW(owner, WM_COMMAND, chosen, 0);
    return TRUE;
}
