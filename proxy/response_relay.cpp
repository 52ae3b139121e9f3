#include "proxy/response_relay.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "base/page_buffers.hpp"
#include "base/streams.hpp"
#include "http/header.hpp"
#include "proxy/body_decoder.hpp"
#include "proxy/request.hpp"
#include "proxy/response_head.hpp"
#include "socket/socket.hpp"

using base::error_log;
using base::window_log;

namespace proxy {

using http::has_blank_line;

namespace {

int length_of(std::string_view text) { return static_cast<int>(text.size()); }

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

void log_head(const Relay& relay, const Response_Head& head) {
    const int id = relay.thread_id;
    // The header block and what its scan found go to the log in one write:
    // they stay together, and the thread waits for the log window once.
    char html_line[48] = "", length_line[48] = "";
    if (head.html) std::snprintf(html_line, sizeof html_line, "** #%d receiving html **\n", id);
    if (static_cast<std::int32_t>(head.content_length) > 0)
        std::snprintf(length_line, sizeof length_line, "#%d content-length: %d\n", id,
                      static_cast<int>(head.content_length));
    window_log->printf("%.*s\r\n%s%s#%d received %d byte\n", length_of(head.header), head.header.data(), html_line,
                       length_line, id, length_of(head.body));
}

// The body is complete once it has reached the Content-Length (every body
// byte counted) or the origin has closed; an answer to HEAD has none.
bool complete(const Relay& relay, const Response_Head& head, std::uint64_t received) {
    return relay.head_request || (head.has_length && received >= head.content_length);
}

// Sends the rest of the body read by read, as it comes.
void stream_rest(const Relay& relay, const Response_Head& head, std::uint64_t received) {
    while (!complete(relay, head, received)) {
        const std::size_t n = relay.server.receive(relay.buffer);
        relay.browser.send(std::string_view(relay.buffer.data(), n));
        window_log->printf("#%d received %d byte\n", relay.thread_id, static_cast<int>(n));
        if (n == 0) break;
        received += n;
    }
}

// The page goes to the browser as the origin sent it; the user learns why.
void report_unfiltered(const Relay& relay, const std::string& why) {
    window_log->printf("** #%d html passed unfiltered: %s **\n", relay.thread_id, why.c_str());
    error_log->printf("error in response thread #%d html passed unfiltered (%s): %.*s\r\n", relay.thread_id,
                      why.c_str(), length_of(relay.target), relay.target.data());
}

std::string over_limit(const Relay& relay, std::string_view what) {
    return std::string(what) + " over the limit of " + std::to_string(relay.html_limit) + " bytes";
}

// Header and the body bytes in hand unchanged, then the rest as it comes.
void pass_unfiltered(const Relay& relay, const Response_Head& head, std::string& held, std::uint64_t received,
                     const std::string& why) {
    report_unfiltered(relay, why);
    relay.browser.send(head.header);
    relay.browser.send(held);
    held.clear();
    held.shrink_to_fit();
    stream_rest(relay, head, received);
}

void relay_html(const Relay& relay, Response_Head& head) {
    const int id = relay.thread_id;
    // The body as received (coded or not), in storage kept from earlier pages.
    std::string raw = base::take_page_buffer();
    raw.append(head.body);
    head.body.clear();
    std::uint64_t received = raw.size();
    if (head.has_length && head.content_length > relay.html_limit)
        return pass_unfiltered(relay, head, raw, received, over_limit(relay, "Content-Length"));
    if (head.has_length) raw.reserve(head.content_length);

    std::optional<Body_Decoder> decoder;
    if (head.coding != Content_Coding::identity) {
        decoder.emplace(head.coding, relay.html_limit);
        decoder->output() = base::take_page_buffer();  // the decoded page, in kept storage too
        decoder->feed(raw);
    }
    auto stopped = [&] {
        return raw.size() > relay.html_limit || (decoder && (decoder->state() == Body_Decoder::State::failed ||
                                                             decoder->state() == Body_Decoder::State::over_limit));
    };
    while (!stopped() && !complete(relay, head, received)) {
        const std::size_t n = relay.server.receive(relay.buffer);
        const std::string_view piece(relay.buffer.data(), n);
        raw.append(piece);
        window_log->printf("#%d received %d byte, total %d \n", id, static_cast<int>(n), length_of(raw));
        if (n == 0) break;
        received += n;
        if (decoder) decoder->feed(piece);
    }

    if (raw.size() > relay.html_limit) return pass_unfiltered(relay, head, raw, received, over_limit(relay, "body"));
    if (decoder) {
        // No body (an answer to a conditional request): nothing to decode.
        if (raw.empty() && decoder->state() == Body_Decoder::State::running) {
            relay.browser.send(head.header);
            return;
        }
        if (decoder->finish() == Body_Decoder::State::over_limit)
            return pass_unfiltered(relay, head, raw, received, over_limit(relay, "decoded body"));
        if (decoder->state() == Body_Decoder::State::failed)
            return pass_unfiltered(relay, head, raw, received,
                                   head.coding_value + " body not decodable: " + std::string(decoder->problem()));
        window_log->printf("#%d decoded %s: %d byte\n", id, std::string(coding_name(head.coding)).c_str(),
                           length_of(decoder->output()));
        base::give_page_buffer(std::exchange(raw, {}));
    }

    std::string body = relay.html_filter(relay.target, decoder ? std::move(decoder->output()) : std::move(raw));
    decoder.reset();
    // The header goes out after filtering so that its length matches the body
    // sent; a decoded body goes out as it is now, without a coding.
    std::string header;
    if (head.coding != Content_Coding::identity)
        header = with_content_length(without_content_encoding(head.header), body.size(), true);
    else
        header = head.has_length ? with_content_length(head.header, body.size()) : std::move(head.header);
    // A page up to one buffer's size goes out with its header in one send (one
    // segment, one wake of the browser); a larger one is not copied for that.
    if (body.size() <= relay.buffer.size()) {
        header.append(body);
        relay.browser.send(header);
    } else {
        relay.browser.send(header);
        relay.browser.send(body);
    }
    base::give_page_buffer(std::move(body));
}

}  // namespace

void relay_response(const Relay& relay) {
    window_log->printf("---- #%d receiving from server\n", relay.thread_id);
    Response_Head head = scan_head(read_response_head(relay));
    log_head(relay, head);

    if (head.html && !relay.head_request) {
        if (head.coding != Content_Coding::unsupported) return relay_html(relay, head);
        std::uint64_t received = head.body.size();
        return pass_unfiltered(relay, head, head.body, received,
                               "content coding " + head.coding_value + " not decodable");
    }
    // Header and the body bytes that came with it in one send: a small answer
    // then leaves in one segment and wakes the browser once.
    const std::uint64_t received = head.body.size();
    std::string first = std::move(head.header);
    first.append(head.body);
    head.body.clear();
    head.body.shrink_to_fit();
    relay.browser.send(first);
    stream_rest(relay, head, received);
}

}  // namespace proxy
