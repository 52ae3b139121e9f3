#pragma once
// Storage of a page's size, kept from one page to the next: memory fresh from
// the system costs more to touch (a fault per 4 KiB) than relaying or
// filtering a page takes to fill it, and the memory reclaim after the last
// connection would hand any freed page back.
//
// A few buffers (the pages in flight at once: each holds one as received and
// one being rewritten) of a bounded size are kept; anything else is given
// back. Shared by every thread; each call is safe from any of them.

#include <string>

namespace base {

// Empty storage: a kept buffer (cleared, its capacity intact) or, when none
// is kept, a new empty string.
std::string take_page_buffer();

// Keeps `buffer`'s storage for a later take, unless enough are kept already
// or it is larger than a kept buffer may be; its contents are dropped.
void give_page_buffer(std::string buffer) noexcept;

}  // namespace base
