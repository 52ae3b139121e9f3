#include "win32/memory.hpp"

// Any C library header: glibc announces itself (__GLIBC__) only through them.
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
// The process heap keeps freed blocks for reuse already.
void win32::prepare_page_memory() noexcept {}
void win32::release_free_memory() noexcept { HeapCompact(GetProcessHeap(), 0); }
#elif defined(__GLIBC__)
#include <malloc.h>

#include <cstddef>

namespace {
constexpr std::size_t free_worth_releasing = std::size_t{4} << 20;
}

void win32::prepare_page_memory() noexcept {
    // glibc maps every block over 128 KiB afresh and raises that bound only
    // once such a block has been freed, so the first two pages each paid
    // ~260 page faults (several milliseconds). These are the bounds it would
    // reach by itself after a 1 MiB page, from the start: blocks up to 2 MiB
    // from the heap, and up to 4 MiB of a heap's free end kept for reuse.
    mallopt(M_MMAP_THRESHOLD, 2 << 20);
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
}
void win32::release_free_memory() noexcept {
    // Handing back costs the next page a fault per 4 KiB it touches again
    // (and every core a flush of its address cache), so what one or two
    // pages leave free between pages (a 1 MiB page: ~1.2 MiB) stays; a
    // burst's worth goes back.
    if (mallinfo2().fordblks >= free_worth_releasing) malloc_trim(0);
}
#else
void win32::prepare_page_memory() noexcept {}
void win32::release_free_memory() noexcept {}
#endif
