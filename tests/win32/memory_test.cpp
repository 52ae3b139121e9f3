#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "win32/memory.hpp"

// glibc's own allocator: the sanitizers bring allocators of their own.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define GLIBC_ALLOCATOR 1
#endif

namespace {

#ifdef GLIBC_ALLOCATOR
long resident_kib() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}
#endif

// Blocks freed in the middle of the heap stay with the process until the
// memory manager is asked for them: the proxy asks after the last connection.
TEST(Memory, ReleaseFreeMemoryGivesFreedHeapBlocksBack) {
#ifndef GLIBC_ALLOCATOR
    GTEST_SKIP() << "glibc's own allocator only";
#else
    // 16 MiB in blocks that come from the heap; every other one is freed, so
    // that the holes cannot join the heap's end, which free() gives back by
    // itself. 8 MiB free is a burst's worth, well above what is kept.
    constexpr std::size_t count = 256, size = 64 * 1024;
    std::vector<char*> blocks;
    volatile char seen = 0;
    for (std::size_t i = 0; i < count; ++i) {
        blocks.push_back(static_cast<char*>(std::malloc(size)));
        ASSERT_NE(blocks.back(), nullptr);
        std::memset(blocks.back(), 1, size);
        seen = seen + blocks.back()[size - 1];
    }
    for (std::size_t i = 0; i < count; i += 2) std::free(blocks[i]);
    const long before = resident_kib();
    win32::release_free_memory();
    const long after = resident_kib();
    for (std::size_t i = 1; i < count; i += 2) std::free(blocks[i]);
    EXPECT_GE(before - after, 2048) << "resident " << before << " KiB before, " << after << " KiB after";
#endif
}

}  // namespace
