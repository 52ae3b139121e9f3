#pragma once
// The program's replacement-template rules, for the reference engines that
// tests and benchmarks compare against: `$&` the match, `` $` `` the text
// before it, `$'` the text after it, `$0`-`$9` captures (empty when unset),
// any other `$x` copied as it is, and a `$` at the very end copied.

#include <cstddef>
#include <string>
#include <string_view>

namespace test {

// Appends `template_text` expanded for the match [start, end) of `text`;
// `capture(n)` gives capture n as a string_view (empty when unset).
template <class Capture>
void append_expanded(std::string& out, std::string_view template_text, std::string_view text, std::size_t start,
                     std::size_t end, Capture capture) {
    for (std::size_t i = 0; i < template_text.size(); ++i) {
        const char c = template_text[i];
        if (c != '$' || i + 1 == template_text.size()) {
            out += c;
            continue;
        }
        const char d = template_text[++i];
        if (d == '&')
            out.append(text.substr(start, end - start));
        else if (d == '`')
            out.append(text.substr(0, start));
        else if (d == '\'')
            out.append(text.substr(end));
        else if (d >= '0' && d <= '9')
            out.append(capture(d - '0'));
        else
            out.append({'$', d});
    }
}

}  // namespace test
