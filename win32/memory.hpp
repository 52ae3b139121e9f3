#pragma once
// Hands memory that is no longer in use back to the operating system, so the
// process shrinks between bursts of traffic.

namespace win32 {
void release_free_memory() noexcept;
}
