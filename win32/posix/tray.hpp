#pragma once
// Which window a press of Enter is for (internal to the POSIX layer).

#include <optional>

#include "win32/posix/message_queue.hpp"
#include "win32/posix/winuser.hpp"

namespace win32::posix {

struct Tray_Target {
    HWND window;
    UINT callback_message;
    UINT id;
};

// The icon whose window belongs to `queue`'s thread and listens to the
// terminal, if there is one.
std::optional<Tray_Target> tray_target_for(const Thread_Queue* queue);

}  // namespace win32::posix
