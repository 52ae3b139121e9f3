#include "proxy/request.hpp"

#include <string>

#include "base/exception.hpp"
#include "http/header.hpp"
#include "proxy/content_coding.hpp"
#include "socket/socket.hpp"

using base::Exception;

namespace proxy {

namespace header_name = http::header_name;
using http::has_blank_line;
using http::Header_Walk;
using http::parse_decimal;
using http::split_url;
using sockets::Port;
using sockets::Response_Socket;
using sockets::Socket_Timeout;

namespace {

bool is_space_or_control(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Removes `prefix` (case-sensitive) from the front of `text` if it is there.
bool skip_prefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Cuts a trailing " HTTP/<version>" so that the target is the bare URI.
std::string_view cut_version(std::string_view line) {
    const auto space = line.rfind(' ');
    if (space != std::string_view::npos && line.substr(space + 1).starts_with("HTTP/")) return line.substr(0, space);
    return line;
}

}  // namespace

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
    Header_Walk walk(request);
    const auto first = walk.next();
    const std::string_view request_line = first ? first->text() : std::string_view();

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
    while (const auto line = walk.next()) {
        if (line->text() == "Proxy-Connection: Keep-Alive\r\n") continue;
        if (line->is(header_name::content_length)) {
            std::string_view value = line->value();
            r.content_length = static_cast<std::uint32_t>(parse_decimal(value));
        } else if (line->is(header_name::accept_encoding)) {
            // Only codings the proxy can decode, so that HTML comes back readable for the rules.
            r.header.append(line->name_and_colon()).append(" ");
            r.header.append(decodable_codings(line->value())).append(line->ending());
            continue;
        }
        r.header.append(line->text());
    }
    r.body = walk.rest();
    return r;
}

bool is_connect(std::string_view request) { return request.starts_with("CONNECT "); }

Tunnel_Request parse_connect(std::string_view request) {
    Tunnel_Request t{};
    Header_Walk walk(request);
    if (const auto first = walk.next()) t.request_line = first->text();
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
    while (walk.next()) {
    }
    t.early_bytes = walk.rest();
    return t;
}

}  // namespace proxy
