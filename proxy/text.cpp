#include "proxy/text.hpp"

std::string_view take_line(std::string_view& text) {
    const auto lf = text.find('\n');
    const std::size_t length = lf == std::string_view::npos ? text.size() : lf + 1;
    const std::string_view line = text.substr(0, length);
    text.remove_prefix(length);
    return line;
}

bool skip_prefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}
