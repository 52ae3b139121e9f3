#pragma once
// UTF-8 <-> wide text (UTF-16 on Windows, UTF-32 elsewhere), for the "W" calls.

#include <string>
#include <string_view>

namespace win32 {

// True when the bytes are well-formed UTF-8 by the Unicode standard: no stray
// continuation bytes, no truncated or overlong sequences, no surrogates, nothing above U+10FFFF.
bool is_well_formed_utf8(std::string_view bytes) noexcept;

// Strict conversion appended to `out`: false, and `out` as it was, when the
// bytes are not well-formed UTF-8.
bool append_utf8_to_wide_strict(std::string_view bytes, std::wstring& out);

// Lenient conversion: each ill-formed sequence becomes U+FFFD.
std::wstring utf8_to_wide(std::string_view bytes);

// Wide text back to UTF-8; unpaired surrogates become U+FFFD.
std::string wide_to_utf8(std::wstring_view text);

}  // namespace win32
