#pragma once
// The process's memory between bursts of traffic.

namespace win32 {

// Lets blocks of a page's size (HTML held whole for filtering, up to a few
// megabytes) come from the heap and stay there for the next page, instead of
// being mapped afresh and faulted in page by page each time. Call once at
// start, before any connection.
void prepare_page_memory() noexcept;

// Hands memory that is no longer in use back to the operating system, so the
// process shrinks between bursts of traffic (with glibc: once at least 4 MiB
// of it is free; less is kept for the next page).
void release_free_memory() noexcept;

}  // namespace win32
