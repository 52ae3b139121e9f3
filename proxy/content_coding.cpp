#include "proxy/content_coding.hpp"

#include "http/header.hpp"

namespace proxy {

using http::same_ignoring_case;

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

Content_Coding named(std::string_view name) {
    if (name.empty() || same_ignoring_case(name, "identity")) return Content_Coding::identity;
    if (same_ignoring_case(name, "gzip") || same_ignoring_case(name, "x-gzip")) return Content_Coding::gzip;
    if (same_ignoring_case(name, "deflate")) return Content_Coding::deflate;
    return Content_Coding::unsupported;
}

}  // namespace

Content_Coding content_coding(std::string_view value) {
    value = trim(value);
    if (value.find(',') != std::string_view::npos) return Content_Coding::unsupported;
    return named(value);
}

std::string_view coding_name(Content_Coding coding) {
    switch (coding) {
        case Content_Coding::identity: return "identity";
        case Content_Coding::gzip: return "gzip";
        case Content_Coding::deflate: return "deflate";
        case Content_Coding::unsupported: break;
    }
    return "unsupported";
}

std::string decodable_codings(std::string_view accept_encoding) {
    std::string kept;
    while (!accept_encoding.empty()) {
        const auto comma = accept_encoding.find(',');
        const std::string_view item = trim(accept_encoding.substr(0, comma));
        accept_encoding.remove_prefix(comma == std::string_view::npos ? accept_encoding.size() : comma + 1);
        const std::string_view name = trim(item.substr(0, item.find(';')));
        // "*" would admit codings the proxy cannot read; an empty name is no coding.
        if (name.empty() || named(name) == Content_Coding::unsupported) continue;
        if (!kept.empty()) kept.append(", ");
        kept.append(item);
    }
    return kept.empty() ? "identity" : kept;
}

}  // namespace proxy
