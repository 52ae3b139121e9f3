#include "proxy/response_head.hpp"

#include "http/header.hpp"
#include "http/text.hpp"

namespace proxy {

namespace header_name = http::header_name;
using http::Header_Line;
using http::Header_Walk;
using http::parse_decimal;
using http::same_ignoring_case;

namespace {

bool is_html_type(const Header_Line& line) {
    std::string_view value = line.value();
    if (auto semicolon = value.find(';'); semicolon != std::string_view::npos) value = value.substr(0, semicolon);
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20) value.remove_suffix(1);
    return same_ignoring_case(value, "text/html");
}

}  // namespace

Response_Head scan_head(std::string_view held) {
    Response_Head head;
    std::size_t coding_lines = 0;
    Header_Walk walk(held);
    while (const auto line = walk.next()) {
        if (line->is(header_name::content_length)) {
            std::string_view value = line->value();
            head.content_length = static_cast<std::uint32_t>(parse_decimal(value));
            head.has_length = true;
        } else if (line->is(header_name::content_type) && is_html_type(*line)) {
            head.html = true;
        } else if (line->is(header_name::content_encoding)) {
            std::string_view value = line->value();
            while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20) value.remove_suffix(1);
            head.coding_value = coding_lines++ ? head.coding_value + ", " + std::string(value) : std::string(value);
            // Two lines are two codings applied one after the other.
            head.coding = coding_lines > 1 ? Content_Coding::unsupported : content_coding(value);
        }
        head.header.append(line->text());
    }
    head.body.assign(walk.rest());
    return head;
}

std::string with_content_length(std::string_view header, std::size_t length, bool add_length) {
    std::string out;
    out.reserve(header.size() + 24);
    bool found = false;
    Header_Walk walk(header);
    while (const auto line = walk.next()) {
        if (line->is_blank() && add_length && !found) {
            out.append(header_name::content_length).append(": ").append(std::to_string(length)).append(line->ending());
        }
        if (!line->is(header_name::content_length)) {
            out.append(line->text());
            continue;
        }
        found = true;
        out.append(line->name_and_colon()).append(" ").append(std::to_string(length)).append(line->ending());
    }
    return out.append(walk.rest());
}

std::string without_content_encoding(std::string_view header) {
    std::string out;
    out.reserve(header.size());
    Header_Walk walk(header);
    while (const auto line = walk.next())
        if (!line->is(header_name::content_encoding)) out.append(line->text());
    return out.append(walk.rest());
}

}  // namespace proxy
