#pragma once
// The process's windows and window classes (internal to the POSIX layer).
// A window belongs to the thread that created it; its procedure runs only
// on that thread. Handles are never reused, so a stale handle stays invalid.

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "win32/posix/message_queue.hpp"
#include "win32/posix/winuser.hpp"

namespace win32::posix {

struct Window {
    HWND handle = nullptr;
    std::wstring class_name;
    WNDPROC procedure = nullptr;
    std::shared_ptr<Thread_Queue> owner;
    HWND parent = nullptr;
    std::wstring title;
    int width = 0, height = 0;  // as created; there is no frame, so this is the client area
    // Guarded by the registry mutex (any thread may ask).
    bool visible = false;
    bool minimized = false;
    bool destroying = false;
    // The list box's strings; touched only on the owning thread.
    bool is_list_box = false;
    std::deque<std::wstring> items;
    std::wstring spare;   // the storage of the last deleted item, for the next one
    std::size_t top = 0;  // the item shown first (the list's scroll position)

    bool top_level() const noexcept { return parent == nullptr; }
    // Shown on the screen: visible and not minimised.
    bool shown() const noexcept { return visible && !minimized; }
};

struct Window_Registry {
    std::mutex mutex;
    std::map<HWND, std::shared_ptr<Window>> windows;
    std::uintptr_t last_handle = 0x10000;
};

// Lives as long as the process, also for threads still running at exit.
Window_Registry& window_registry();

// The window, or null when the handle is not (or no longer) a window.
std::shared_ptr<Window> find_window(HWND handle);

// Calls the window's procedure on the calling thread.
LRESULT call_procedure(Window& window, UINT message, WPARAM wparam, LPARAM lparam);

// Every top-level window of the process.
std::vector<HWND> top_level_windows();

// Forgets the windows of a thread that has ended, without calling their procedures.
void forget_windows_of(const Thread_Queue* owner);

// The procedure of the system class "LISTBOX".
LRESULT CALLBACK list_box_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace win32::posix
