#include "win32/thread_id.hpp"

#ifdef _WIN32
#include <windows.h>
unsigned long win32::current_thread_id() noexcept { return GetCurrentThreadId(); }
#else
#include <sys/syscall.h>
#include <unistd.h>
unsigned long win32::current_thread_id() noexcept { return static_cast<unsigned long>(syscall(SYS_gettid)); }
#endif
