#include "win32/memory.hpp"

#ifdef _WIN32
#include <windows.h>
void win32::release_free_memory() noexcept { HeapCompact(GetProcessHeap(), 0); }
#elif defined(__GLIBC__)
#include <malloc.h>
void win32::release_free_memory() noexcept { malloc_trim(0); }
#else
void win32::release_free_memory() noexcept {}
#endif
