#include "proxy/request.hpp"

#include <string>

#include "base/exception.hpp"
#include "proxy/content_coding.hpp"
#include "proxy/text.hpp"
#include "socket/socket.hpp"

namespace {

bool is_blank(std::string_view line) { return line == "\n" || line == "\r\n"; }

bool is_space_or_control(char c) { return static_cast<unsigned char>(c) <= 0x20; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Cuts a trailing " HTTP/<version>" so that the target is the bare URI.
std::string_view cut_version(std::string_view line) {
    const auto space = line.rfind(' ');
    if (space != std::string_view::npos && line.substr(space + 1).starts_with("HTTP/")) return line.substr(0, space);
    return line;
}

}  // namespace

bool is_header(std::string_view line, std::string_view name) {
    if (line.size() < name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (lower(line[i]) != lower(name[i])) return false;
    return true;
}

std::string_view header_value(std::string_view line, std::size_t name_length) {
    std::string_view value = line.substr(name_length);
    while (!value.empty() && is_space_or_control(value.front())) value.remove_prefix(1);
    return value;
}

bool has_blank_line(std::string_view text) {
    if (text.starts_with("\n") || text.starts_with("\r\n")) return true;
    return text.find("\n\n") != std::string_view::npos || text.find("\n\r\n") != std::string_view::npos;
}

std::string read_request_head(Response_Socket& browser, std::span<char> buffer, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    std::string request;
    for (;;) {
        // The limit is for the whole head: a browser trickling bytes gains nothing.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) throw Socket_Timeout("receive timed out");
        browser.set_receive_timeout(left);
        const std::size_t n = browser.receive(buffer);
        if (n == 0) return request;
        request.append(buffer.data(), n);
        if (has_blank_line(request)) return request;
        if (request.size() > max_request_head)
            throw Exception("request header too large (over " + std::to_string(max_request_head) + " bytes)");
    }
}

Upstream_Request rewrite_request(std::string_view request) {
    Upstream_Request r{};
    std::string_view rest = request;
    const std::string_view request_line = take_line(rest);

    std::string_view line = request_line;
    for (std::string_view method : {"GET ", "HEAD ", "POST "}) {
        if (skip_prefix(line, method)) {
            r.method = method;
            break;
        }
    }
    if (r.method.empty()) throw Exception("未対応リクエスト: " + std::string(request_line));

    while (!line.empty() && is_space_or_control(line.back())) line.remove_suffix(1);
    if (line.empty()) throw Exception("request line has no target: " + std::string(request_line));
    if (line.size() < 9) throw Exception("request line too short: " + std::string(request_line));
    r.target = cut_version(line);
    r.url = split_url(r.target);

    r.header.reserve(request.size() + 16);
    r.header.append(r.method).append(r.url.path).append(" HTTP/1.0\r\n");
    while (!rest.empty()) {
        const std::string_view header_line = take_line(rest);
        if (is_blank(header_line)) {
            r.header.append(header_line);
            break;
        }
        if (header_line == "Proxy-Connection: Keep-Alive\r\n") continue;
        if (is_header(header_line, "Content-Length:")) {
            std::string_view value = header_value(header_line, 15);
            r.content_length = static_cast<std::uint32_t>(parse_decimal(value));
        } else if (is_header(header_line, "Accept-Encoding:")) {
            // Only codings the proxy can decode, so that HTML comes back readable for the rules.
            const std::string_view ending = header_line.ends_with("\r\n") ? "\r\n"
                                            : header_line.ends_with("\n") ? "\n"
                                                                          : "";
            r.header.append(header_line.substr(0, 16)).append(" ");
            r.header.append(decodable_codings(header_value(header_line, 16))).append(ending);
            continue;
        }
        r.header.append(header_line);
    }
    r.body = rest;
    return r;
}

bool is_connect(std::string_view request) { return request.starts_with("CONNECT "); }

Tunnel_Request parse_connect(std::string_view request) {
    Tunnel_Request t{};
    std::string_view rest = request;
    t.request_line = take_line(rest);
    const auto refuse = [&] { return Exception("未対応リクエスト: " + std::string(t.request_line)); };

    std::string_view line = t.request_line;
    if (!skip_prefix(line, "CONNECT ")) throw refuse();
    while (!line.empty() && is_space_or_control(line.back())) line.remove_suffix(1);
    const std::string_view authority = cut_version(line);
    const auto colon = authority.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == authority.size()) throw refuse();
    t.host = authority.substr(0, colon);
    std::string_view digits = authority.substr(colon + 1);
    if (digits.size() > 5) throw refuse();
    const std::int32_t port = parse_decimal(digits);
    if (!digits.empty() || port <= 0 || port > 65535) throw refuse();
    t.port = static_cast<Port>(port);

    // The head ends at its blank line; anything after it is already tunnel data.
    while (!rest.empty())
        if (is_blank(take_line(rest))) break;
    t.early_bytes = rest;
    return t;
}
