#pragma once
// Cutting HTTP text into lines and known prefixes. Results are views into the text.

#include <string_view>

// The first line with its LF (and any CR before it); `text` keeps the rest.
// Without an LF the whole text is the line and `text` becomes empty.
std::string_view take_line(std::string_view& text);

// Removes `prefix` (case-sensitive) from the front of `text` if it is there.
bool skip_prefix(std::string_view& text, std::string_view prefix);
