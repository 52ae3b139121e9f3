#pragma once
// The lines of an HTTP head (request or status line, header lines, blank
// line) and the names of the headers the proxy reads or edits. Every result
// is a view into the walked text; nothing is copied.
//
// A line is everything up to and including its LF (with any CR before it);
// the last line of a text may have no end. A header line's name is what
// precedes its first colon, compared ignoring ASCII case; its value is what
// follows that colon, leading bytes of 0x20 or less skipped, the line end kept.

#include <cstddef>
#include <optional>
#include <string_view>

namespace http {

// Header names as written in HTTP, without their colon.
namespace header_name {
inline constexpr std::string_view accept_encoding = "Accept-Encoding";
inline constexpr std::string_view content_encoding = "Content-Encoding";
inline constexpr std::string_view content_length = "Content-Length";
inline constexpr std::string_view content_type = "Content-Type";
}  // namespace header_name

// Whether `a` and `b` are the same bytes apart from the case of ASCII letters.
bool same_ignoring_case(std::string_view a, std::string_view b);

// True when `text` holds a complete blank line ("\n" or "\r\n") ending a head.
bool has_blank_line(std::string_view text);

class Header_Line {
public:
    explicit Header_Line(std::string_view text);

    std::string_view text() const { return text_; }
    // "\r\n", "\n", or "" for a last line without an end.
    std::string_view ending() const;
    // The empty line that ends a head.
    bool is_blank() const { return text_ == "\r\n" || text_ == "\n"; }
    // Whether this is a `name` header: the name in any ASCII case, then a colon.
    bool is(std::string_view name) const;
    // The name and its colon as received; empty for a line without a colon.
    std::string_view name_and_colon() const;
    // What follows the colon (see above); empty for a line without a colon.
    std::string_view value() const;

private:
    std::string_view text_;
    std::size_t colon_;  // npos when the line has none
};

// Walks a head line by line. States: walking (next() gives the following
// line), ended (the blank line has been given, or the text ran out: next()
// gives nothing). rest() is what has not been given; once the blank line has
// been, that is the body bytes that came with the head.
class Header_Walk {
public:
    explicit Header_Walk(std::string_view text) : rest_(text) {}

    std::optional<Header_Line> next();
    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
    bool ended_ = false;
};

}  // namespace http
