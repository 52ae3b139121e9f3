#include "proxy/response_head.hpp"

#include "proxy/request.hpp"
#include "proxy/text.hpp"

namespace {

bool is_html_type(std::string_view line) {
    std::string_view value = header_value(line, 13);
    if (auto semicolon = value.find(';'); semicolon != std::string_view::npos) value = value.substr(0, semicolon);
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20) value.remove_suffix(1);
    return value.size() == 9 && is_header(value, "text/html");
}

std::string_view line_end_of(std::string_view line) {
    return line.ends_with("\r\n") ? "\r\n" : line.ends_with("\n") ? "\n" : "";
}

bool is_blank(std::string_view line) { return line == "\r\n" || line == "\n"; }

}  // namespace

Response_Head scan_head(std::string_view held) {
    Response_Head head;
    std::size_t coding_lines = 0;
    while (!held.empty()) {
        const std::string_view line = take_line(held);
        if (is_blank(line)) {
            head.header.append(line);
            break;
        }
        if (is_header(line, "Content-Length:")) {
            std::string_view value = header_value(line, 15);
            head.content_length = static_cast<std::uint32_t>(parse_decimal(value));
            head.has_length = true;
        } else if (is_header(line, "Content-Type:") && is_html_type(line)) {
            head.html = true;
        } else if (is_header(line, "Content-Encoding:")) {
            std::string_view value = header_value(line, 17);
            while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20) value.remove_suffix(1);
            head.coding_value = coding_lines++ ? head.coding_value + ", " + std::string(value) : std::string(value);
            // Two lines are two codings applied one after the other.
            head.coding = coding_lines > 1 ? Content_Coding::unsupported : content_coding(value);
        }
        head.header.append(line);
    }
    head.body.assign(held);
    return head;
}

std::string with_content_length(std::string_view header, std::size_t length, bool add_length) {
    std::string out;
    out.reserve(header.size() + 24);
    bool found = false;
    while (!header.empty()) {
        const std::string_view line = take_line(header);
        if (is_blank(line) && add_length && !found) {
            out.append("Content-Length: ").append(std::to_string(length)).append(line_end_of(line));
        }
        if (!is_header(line, "Content-Length:")) {
            out.append(line);
            continue;
        }
        found = true;
        out.append(line.substr(0, 15)).append(" ").append(std::to_string(length)).append(line_end_of(line));
    }
    return out;
}

std::string without_content_encoding(std::string_view header) {
    std::string out;
    out.reserve(header.size());
    while (!header.empty()) {
        const std::string_view line = take_line(header);
        if (!is_header(line, "Content-Encoding:")) out.append(line);
    }
    return out;
}
