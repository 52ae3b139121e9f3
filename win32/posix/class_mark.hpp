#pragma once
// Top-level windows seen across processes (internal to the POSIX layer).
//
// While a process has a top-level window of a class, it holds a shared
// `flock` on $XDG_RUNTIME_DIR/win32/<class>.lock (or /tmp/win32-<uid>/); a
// process looking for the class tries an exclusive lock, which fails while
// anyone holds the shared one. The system drops the lock when the process
// ends, however it ends.

#include <string>

namespace win32::posix {

// Counted per class: the lock is held from the first window to the last.
void hold_class_mark(const std::wstring& class_name);
void release_class_mark(const std::wstring& class_name);

// True when some process (this one included) holds the class's lock.
bool class_marked(const std::wstring& class_name);

}  // namespace win32::posix
