#include "proxy/response_relay.hpp"

#include <cstdint>
#include <cstdio>
#include <string>

#include "proxy/request.hpp"
#include "proxy/text.hpp"
#include "socket/socket.hpp"
#include "zib/streams.hpp"

namespace {

struct Response_Head {
    std::string header;  // the header lines as received, blank line included
    std::string body;    // body bytes that came with the header
    bool html = false;
    bool has_length = false;
    std::uint32_t content_length = 0;
};

bool is_html_type(std::string_view line) {
    std::string_view value = header_value(line, 13);
    if (auto semicolon = value.find(';'); semicolon != std::string_view::npos) value = value.substr(0, semicolon);
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20) value.remove_suffix(1);
    return value.size() == 9 && is_header(value, "text/html");
}

// Reads until the header's blank line has arrived (or the origin closes, or
// the head is implausibly long), so that a header split over several TCP
// segments is scanned whole and its bytes are never counted as body.
std::string read_response_head(const Relay& relay) {
    std::string held;
    for (;;) {
        const std::size_t n = relay.server.receive(relay.buffer);
        held.append(relay.buffer.data(), n);
        if (n == 0 || has_blank_line(held) || held.size() > max_request_head) return held;
    }
}

Response_Head scan_head(std::string_view held) {
    Response_Head head;
    while (!held.empty()) {
        const std::string_view line = take_line(held);
        if (line == "\r\n" || line == "\n") {
            head.header.append(line);
            break;
        }
        if (is_header(line, "Content-Length:")) {
            std::string_view value = header_value(line, 15);
            head.content_length = static_cast<std::uint32_t>(parse_decimal(value));
            head.has_length = true;
        } else if (is_header(line, "Content-Type:") && is_html_type(line)) {
            head.html = true;
        }
        head.header.append(line);
    }
    head.body.assign(held);
    return head;
}

// The header with every Content-Length value set to `length` (name and line end kept).
std::string with_content_length(std::string_view header, std::size_t length) {
    std::string out;
    out.reserve(header.size() + 8);
    while (!header.empty()) {
        const std::string_view line = take_line(header);
        if (!is_header(line, "Content-Length:")) {
            out.append(line);
            continue;
        }
        std::string_view ending = line.ends_with("\r\n") ? "\r\n" : line.ends_with("\n") ? "\n" : "";
        out.append(line.substr(0, 15)).append(" ").append(std::to_string(length)).append(ending);
    }
    return out;
}

}  // namespace

void relay_response(const Relay& relay) {
    const int id = relay.thread_id;
    window_log->printf("---- #%d receiving from server\n", id);

    Response_Head head = scan_head(read_response_head(relay));
    // The header block and what its scan found go to the log in one write:
    // they stay together, and the thread waits for the log window once.
    char html_line[48] = "", length_line[48] = "";
    if (head.html) std::snprintf(html_line, sizeof html_line, "** #%d receiving html **\n", id);
    if (static_cast<std::int32_t>(head.content_length) > 0)
        std::snprintf(length_line, sizeof length_line, "#%d content-length: %d\n", id,
                      static_cast<int>(head.content_length));
    window_log->printf("%.*s\r\n%s%s#%d received %d byte\n", static_cast<int>(head.header.size()), head.header.data(),
                       html_line, length_line, id, static_cast<int>(head.body.size()));

    // The body is complete once it has reached the Content-Length (every body
    // byte counted) or the origin has closed; an answer to HEAD has none.
    std::uint64_t received = head.body.size();
    auto complete = [&] { return relay.head_request || (head.has_length && received >= head.content_length); };

    if (!head.html) {
        relay.browser.send(head.header);
        relay.browser.send(head.body);
        head.body.clear();
        head.body.shrink_to_fit();
        while (!complete()) {
            const std::size_t n = relay.server.receive(relay.buffer);
            relay.browser.send(std::string_view(relay.buffer.data(), n));
            window_log->printf("#%d received %d byte\n", id, static_cast<int>(n));
            if (n == 0) break;
            received += n;
        }
        return;
    }

    while (!complete()) {
        const std::size_t n = relay.server.receive(relay.buffer);
        head.body.append(relay.buffer.data(), n);
        window_log->printf("#%d received %d byte, total %d \n", id, static_cast<int>(n),
                           static_cast<int>(head.body.size()));
        if (n == 0) break;
        received += n;
    }
    std::string body = relay.html_filter(relay.target, std::move(head.body));
    if (relay.head_request) {
        relay.browser.send(head.header);
        return;
    }
    // The header goes out after filtering so that its length matches the body sent.
    relay.browser.send(head.has_length ? with_content_length(head.header, body.size()) : head.header);
    relay.browser.send(body);
}
