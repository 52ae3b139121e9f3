#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "win32/posix/class_mark.hpp"
#include "win32/posix/signals.hpp"
#include "win32/posix/window_registry.hpp"
#include "win32/thread_id.hpp"

namespace win32::posix {

namespace {

struct Window_Class {
    WNDCLASSEXW info;
    std::wstring name;
    std::wstring menu_name;
    ATOM atom;
};

struct Class_Registry {
    std::mutex mutex;
    std::vector<Window_Class> classes;
};

Class_Registry& class_registry() {
    static auto& registry = *new Class_Registry;
    return registry;
}

constexpr std::uintptr_t first_atom = 0xC000;

// Atoms and resource numbers travel in the pointer's low 16 bits.
bool is_atom(LPCWSTR name) { return reinterpret_cast<std::uintptr_t>(name) < 0x10000; }

bool same_class_name(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               auto lower = [](wchar_t c) {
                   return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
               };
               return lower(x) == lower(y);
           });
}

WNDCLASSEXW system_list_box_class() {
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    info.style = CS_DBLCLKS;
    info.lpfnWndProc = list_box_procedure;
    info.lpszClassName = L"ListBox";
    return info;
}

// The class by name or atom, registered ones first, then the system list box.
std::optional<Window_Class> find_class(LPCWSTR name) {
    if (!name) return std::nullopt;
    auto& registry = class_registry();
    {
        std::lock_guard lock(registry.mutex);
        for (const auto& c : registry.classes) {
            if (is_atom(name) ? c.atom == reinterpret_cast<std::uintptr_t>(name) : same_class_name(c.name, name)) {
                Window_Class copy = c;
                copy.info.lpszClassName = nullptr;  // points into the registry; callers use `name`
                copy.info.lpszMenuName = nullptr;
                return copy;
            }
        }
    }
    if (!is_atom(name) && same_class_name(name, L"LISTBOX"))
        return Window_Class{system_list_box_class(), L"ListBox", {}, 0};
    return std::nullopt;
}

// Takes the window out of the registry and releases what waits for it.
void remove_window(const std::shared_ptr<Window>& window) {
    auto& registry = window_registry();
    {
        std::lock_guard lock(registry.mutex);
        registry.windows.erase(window->handle);
    }
    release_sends_to(*window->owner, window->handle);
    forget_timers_of(*window->owner, window->handle);
    if (window->top_level()) release_class_mark(window->class_name);
}

}  // namespace

Window_Registry& window_registry() {
    static auto& registry = *new Window_Registry;
    return registry;
}

std::shared_ptr<Window> find_window(HWND handle) {
    auto& registry = window_registry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.windows.find(handle);
    return found == registry.windows.end() ? nullptr : found->second;
}

LRESULT call_procedure(Window& window, UINT message, WPARAM wparam, LPARAM lparam) {
    return window.procedure ? window.procedure(window.handle, message, wparam, lparam) : 0;
}

std::vector<HWND> top_level_windows() {
    auto& registry = window_registry();
    std::lock_guard lock(registry.mutex);
    std::vector<HWND> result;
    for (const auto& [handle, window] : registry.windows)
        if (window->top_level()) result.push_back(handle);
    return result;
}

void forget_windows_of(const Thread_Queue* owner) {
    std::vector<std::shared_ptr<Window>> gone;
    {
        auto& registry = window_registry();
        std::lock_guard lock(registry.mutex);
        for (const auto& [handle, window] : registry.windows)
            if (window->owner.get() == owner) gone.push_back(window);
    }
    for (const auto& window : gone) remove_window(window);
}

}  // namespace win32::posix

using namespace win32::posix;

BOOL GetClassInfoExW(HINSTANCE, LPCWSTR class_name, WNDCLASSEXW* info) {
    if (!info) return FALSE;
    auto found = find_class(class_name);
    if (!found) return FALSE;
    // The names stay valid for the process's life: system names are
    // literals, registered ones keep pointing at the caller's text.
    *info = found->info;
    info->cbSize = sizeof *info;
    if (found->atom == 0) {
        info->lpszClassName = L"ListBox";
    } else {
        auto& registry = class_registry();
        std::lock_guard lock(registry.mutex);
        for (const auto& c : registry.classes)
            if (c.atom == found->atom) {
                info->lpszClassName = c.name.c_str();
                info->lpszMenuName = c.menu_name.empty() ? nullptr : c.menu_name.c_str();
            }
    }
    return TRUE;
}

ATOM RegisterClassExW(const WNDCLASSEXW* info) {
    if (!info || !info->lpfnWndProc || !info->lpszClassName || is_atom(info->lpszClassName) || !*info->lpszClassName)
        return 0;
    auto& registry = class_registry();
    std::lock_guard lock(registry.mutex);
    for (const auto& c : registry.classes)
        if (same_class_name(c.name, info->lpszClassName)) return 0;
    auto atom = static_cast<ATOM>(first_atom + registry.classes.size());
    std::wstring menu_name = info->lpszMenuName && !is_atom(info->lpszMenuName) ? info->lpszMenuName : L"";
    registry.classes.push_back(Window_Class{*info, info->lpszClassName, menu_name, atom});
    // Keep the name's storage in the registry, not the caller's.
    registry.classes.back().info.lpszClassName = nullptr;
    registry.classes.back().info.lpszMenuName = nullptr;
    return atom;
}

HWND CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    auto window_class = find_class(class_name);
    if (!window_class) return nullptr;
    if (parent && !find_window(parent)) return nullptr;
    auto window = std::make_shared<Window>();
    window->class_name = window_class->name;
    window->procedure = window_class->info.lpfnWndProc;
    window->owner = current_queue();
    window->parent = parent;
    window->title = title ? title : L"";
    // The size a default places a window in when the caller leaves it open.
    window->width = width == CW_USEDEFAULT ? 640 : width;
    window->height = height == CW_USEDEFAULT ? 480 : height;
    window->visible = (style & WS_VISIBLE) != 0;
    window->minimized = (style & WS_MINIMIZE) != 0;
    auto& registry = window_registry();
    {
        std::lock_guard lock(registry.mutex);
        window->handle = reinterpret_cast<HWND>(registry.last_handle += 4);
        registry.windows[window->handle] = window;
    }
    if (window->top_level()) {
        hold_class_mark(window->class_name);
        install_signal_handlers();
    }
    CREATESTRUCTW create{param,
                         instance,
                         menu,
                         parent,
                         height,
                         width,
                         y,
                         x,
                         static_cast<LONG>(style),
                         window->title.c_str(),
                         window_class->name.c_str(),
                         ex_style};
    auto lparam = reinterpret_cast<LPARAM>(&create);
    if (!call_procedure(*window, WM_NCCREATE, 0, lparam)) {
        call_procedure(*window, WM_NCDESTROY, 0, 0);
        remove_window(window);
        return nullptr;
    }
    if (call_procedure(*window, WM_CREATE, 0, lparam) == -1) {
        DestroyWindow(window->handle);
        return nullptr;
    }
    return window->handle;
}

BOOL DestroyWindow(HWND handle) {
    auto window = find_window(handle);
    if (!window || !is_current_queue(window->owner.get())) return FALSE;
    {
        std::lock_guard lock(window_registry().mutex);
        if (window->destroying) return TRUE;
        window->destroying = true;
        window->visible = false;
    }
    // Gone from the registry even if a procedure throws.
    struct Removal {
        std::shared_ptr<Window>& window;
        ~Removal() { remove_window(window); }
    } removal{window};
    call_procedure(*window, WM_DESTROY, 0, 0);
    call_procedure(*window, WM_NCDESTROY, 0, 0);
    return TRUE;
}

BOOL IsWindow(HWND handle) { return find_window(handle) != nullptr; }

DWORD GetWindowThreadProcessId(HWND handle, LPDWORD process_id) {
    auto window = find_window(handle);
    if (!window) return 0;
    if (process_id) *process_id = static_cast<DWORD>(::getpid());
    return window->owner->thread_id;
}

DWORD GetCurrentThreadId() {
    // A thread's id never changes: the kernel is asked once per thread.
    thread_local const DWORD id = static_cast<DWORD>(win32::current_thread_id());
    return id;
}

LRESULT CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return procedure ? procedure(window, message, wparam, lparam) : 0;
}

BOOL ShowWindow(HWND handle, int command) {
    auto window = find_window(handle);
    if (!window) return FALSE;
    bool was_visible, now_shown, was_shown;
    {
        std::lock_guard lock(window_registry().mutex);
        was_visible = window->visible;
        was_shown = window->shown();
        switch (command) {
            case SW_HIDE: window->visible = false; break;
            case SW_SHOWNORMAL:
            case SW_SHOWMAXIMIZED:
            case SW_SHOWNOACTIVATE:
            case SW_RESTORE:
            case SW_SHOWDEFAULT:
                window->visible = true;
                window->minimized = false;
                break;
            case SW_SHOWMINIMIZED:
            case SW_MINIMIZE:
            case SW_SHOWMINNOACTIVE:
                window->visible = true;
                window->minimized = true;
                break;
            case SW_SHOW:
            case SW_SHOWNA: window->visible = true; break;
            default: break;
        }
        now_shown = window->shown();
    }
    // The window draws itself: a list box writes what it holds.
    if (now_shown != was_shown) SendMessageW(handle, WM_SHOWWINDOW, now_shown, 0);
    return was_visible;
}

BOOL IsWindowVisible(HWND handle) {
    auto window = find_window(handle);
    if (!window) return FALSE;
    std::lock_guard lock(window_registry().mutex);
    return window->visible;
}

BOOL GetClientRect(HWND handle, RECT* rect) {
    auto window = find_window(handle);
    if (!window || !rect) return FALSE;
    std::lock_guard lock(window_registry().mutex);
    *rect = RECT{0, 0, 0, 0};
    if (!window->minimized) {
        rect->right = window->width;
        rect->bottom = window->height;
    }
    return TRUE;
}

BOOL SetForegroundWindow(HWND handle) { return IsWindow(handle); }

HWND FindWindowW(LPCWSTR class_name, LPCWSTR title) {
    {
        auto& registry = window_registry();
        std::lock_guard lock(registry.mutex);
        for (const auto& [handle, window] : registry.windows) {
            if (!window->top_level() || window->destroying) continue;
            if (class_name && (is_atom(class_name) || !same_class_name(window->class_name, class_name))) continue;
            if (title && window->title != title) continue;
            return handle;
        }
    }
    // Another process's window: a handle that no call accepts, but not null.
    if (class_name && !is_atom(class_name) && !title && class_marked(class_name))
        return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(1));
    return nullptr;
}

HICON LoadIconW(HINSTANCE, LPCWSTR name) {
    // There are no icon images here; a resource number is its own handle.
    if (!name) return nullptr;
    auto id = is_atom(name) ? reinterpret_cast<std::uintptr_t>(name) : 0x7FFF;
    return reinterpret_cast<HICON>(id);
}

HMODULE GetModuleHandleW(LPCWSTR name) {
    static int program;
    return name ? nullptr : reinterpret_cast<HMODULE>(&program);
}

BOOL GetCursorPos(POINT* point) {
    if (!point) return FALSE;
    // The terminal has no pointer: the menu opens where the text cursor is.
    *point = POINT{0, 0};
    return TRUE;
}
