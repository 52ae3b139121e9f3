#pragma once
// The operating system's numeric id of the calling thread.

namespace win32 {
unsigned long current_thread_id() noexcept;
}
