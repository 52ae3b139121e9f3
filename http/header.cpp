#include "http/header.hpp"

namespace http {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_space_or_control(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool has_blank_line(std::string_view text) {
    if (text.starts_with("\n") || text.starts_with("\r\n")) return true;
    return text.find("\n\n") != std::string_view::npos || text.find("\n\r\n") != std::string_view::npos;
}

Header_Line::Header_Line(std::string_view text) : text_(text), colon_(text.find(':')) {}

std::string_view Header_Line::ending() const {
    return text_.ends_with("\r\n") ? "\r\n" : text_.ends_with("\n") ? "\n" : "";
}

bool Header_Line::is(std::string_view name) const {
    return colon_ == name.size() && same_ignoring_case(text_.substr(0, colon_), name);
}

std::string_view Header_Line::name_and_colon() const {
    return colon_ == std::string_view::npos ? std::string_view() : text_.substr(0, colon_ + 1);
}

std::string_view Header_Line::value() const {
    if (colon_ == std::string_view::npos) return {};
    std::string_view value = text_.substr(colon_ + 1);
    while (!value.empty() && is_space_or_control(value.front())) value.remove_prefix(1);
    return value;
}

std::optional<Header_Line> Header_Walk::next() {
    if (ended_ || rest_.empty()) return std::nullopt;
    const auto lf = rest_.find('\n');
    const std::size_t length = lf == std::string_view::npos ? rest_.size() : lf + 1;
    const Header_Line line(rest_.substr(0, length));
    rest_.remove_prefix(length);
    ended_ = line.is_blank();
    return line;
}

}  // namespace http
