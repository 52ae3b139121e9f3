// Feeds arbitrary bytes to the proxy's parsers of what peers send: the
// request-head parser (GET/HEAD/POST and CONNECT), the response-head scanner
// with the header rewriting that follows it, and the body decoder. Anything
// but a clean result or the program's own Exception is a fault; so is a
// result that breaks its contract (views outside the input, lost bytes, a
// decoder past its bound).

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/exception.hpp"
#include "http/header.hpp"
#include "proxy/body_decoder.hpp"
#include "proxy/content_coding.hpp"
#include "proxy/request.hpp"
#include "proxy/response_head.hpp"

using namespace proxy;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

template <class F>
void allowing_exception(F&& f) {
    try {
        f();
    } catch (const base::Exception&) {
    }
}

void request_head(std::string_view input) {
    allowing_exception([&] {
        const Upstream_Request r = rewrite_request(input);
        check(inside(r.target, input) && inside(r.body, input) && inside(r.url.host, input));
        check((r.method == "GET " || r.method == "HEAD " || r.method == "POST ") && r.header.starts_with(r.method));
    });
    allowing_exception([&] {
        if (!is_connect(input)) return;
        const Tunnel_Request t = parse_connect(input);
        check(inside(t.host, input) && inside(t.early_bytes, input) && !t.host.empty() && t.port != 0);
    });
}

void response_head(std::string_view input) {
    // Nothing is lost or changed: the header and the body are the input.
    const Response_Head head = scan_head(input);
    check(head.header.size() + head.body.size() == input.size());
    check(input.starts_with(head.header) && input.ends_with(head.body));
    const std::string rewritten = with_content_length(without_content_encoding(head.header), 12345, true);
    http::Header_Walk walk(rewritten);
    while (const auto line = walk.next()) {
        check(!line->is(http::header_name::content_encoding));
        if (line->is(http::header_name::content_length)) check(line->value().starts_with("12345"));
    }
    check(walk.rest().empty());
}

void body(std::string_view input) {
    for (Content_Coding coding : {Content_Coding::gzip, Content_Coding::deflate}) {
        Body_Decoder decoder(coding, 1 << 20);
        // In two pieces, cut where the first byte says.
        const std::size_t cut = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % (input.size() + 1);
        decoder.feed(input.substr(0, cut));
        decoder.feed(input.substr(cut));
        const auto state = decoder.finish();
        check(decoder.output().size() <= 1 << 20 && state != Body_Decoder::State::running);
        check(state != Body_Decoder::State::failed || !decoder.problem().empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string copy(reinterpret_cast<const char*>(data), size);  // exact bounds for ASan
    request_head(copy);
    response_head(copy);
    body(copy);
    return 0;
}
