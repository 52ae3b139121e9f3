#include "http/text.hpp"

#include "base/exception.hpp"

using base::Exception;

namespace http {

using sockets::Port;

std::int32_t parse_decimal(std::string_view& text) {
    std::uint32_t value = 0;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        value = value * 10 + static_cast<std::uint32_t>(text.front() - '0');
        text.remove_prefix(1);
    }
    return static_cast<std::int32_t>(value);
}

Url_Parts split_url(std::string_view url) {
    if (url.size() < 7) throw Exception("URL too short (under 7 bytes): \"" + std::string(url) + "\"");
    if (url.substr(0, 7) == "http://") url.remove_prefix(7);
    Url_Parts parts{80, url, "/"};
    if (auto slash = url.find('/'); slash != std::string_view::npos) {
        parts.host = url.substr(0, slash);
        parts.path = url.substr(slash);
    }
    if (auto colon = parts.host.find(':'); colon != std::string_view::npos) {
        std::string_view port_text = parts.host.substr(colon + 1);
        parts.port = static_cast<Port>(static_cast<std::uint32_t>(parse_decimal(port_text)) & 0xFFFF);
        parts.host = parts.host.substr(0, colon);
    }
    return parts;
}

}  // namespace http
