// Feeds arbitrary bytes to the proxy's parsers of what peers send: the
// request-head parser (GET/HEAD/POST and CONNECT), the response-head scanner
// with the header rewriting that follows it, the Accept-Encoding filter, the
// body decoder, and the proxy's settings keys. Anything but a clean result or
// the program's own Exception is a fault; so is a result that breaks its
// contract (views outside the input, lost bytes, a decoder past its bound).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/exception.hpp"
#include "http/header.hpp"
#include "proxy/body_decoder.hpp"
#include "proxy/content_coding.hpp"
#include "proxy/request.hpp"
#include "proxy/response_head.hpp"
#include "zib/proxy_settings.hpp"

using zib::read_proxy_settings;

using base::Exception;

namespace header_name = http::header_name;
using http::Header_Walk;
using proxy::Body_Decoder;
using proxy::Client_Range;
using proxy::Content_Coding;
using proxy::content_coding;
using proxy::decodable_codings;
using proxy::is_connect;
using proxy::parse_connect;
using proxy::Proxy_Options;
using proxy::Response_Head;
using proxy::rewrite_request;
using proxy::scan_head;
using proxy::Tunnel_Request;
using proxy::Upstream_Request;
using proxy::with_content_length;
using proxy::without_content_encoding;
using sockets::Port;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void request_head(std::string_view input) {
    try {
        const Upstream_Request r = rewrite_request(input);
        check(inside(r.target, input) && inside(r.body, input) && inside(r.url.host, input));
        check(r.method == "GET " || r.method == "HEAD " || r.method == "POST ");
        check(r.header.starts_with(std::string(r.method)));
    } catch (const Exception&) {
    }
    if (!is_connect(input)) return;
    try {
        const Tunnel_Request t = parse_connect(input);
        check(inside(t.host, input) && inside(t.early_bytes, input) && !t.host.empty() && t.port != 0);
    } catch (const Exception&) {
    }
}

void response_head(std::string_view input) {
    const Response_Head head = scan_head(input);
    // Nothing is lost or changed: the header and the body are the input.
    check(head.header.size() + head.body.size() == input.size());
    check(input.starts_with(head.header) && input.ends_with(head.body));
    const std::string rewritten = with_content_length(without_content_encoding(head.header), 12345, true);
    Header_Walk walk(rewritten);
    while (const auto line = walk.next()) {
        check(!line->is(header_name::content_encoding));
        if (line->is(header_name::content_length))
            check(line->text().substr(line->name_and_colon().size()).starts_with(" 12345"));
    }
    check(walk.rest().empty());
}

void codings(std::string_view input) {
    const std::string kept = decodable_codings(input);
    std::string_view rest = kept;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        while (item.starts_with(" ")) item.remove_prefix(1);
        const std::string_view name = item.substr(0, item.find(';'));
        check(content_coding(name) != Content_Coding::unsupported);
        rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
    }
    constexpr std::size_t limit = 1 << 20;
    for (Content_Coding coding : {Content_Coding::gzip, Content_Coding::deflate}) {
        Body_Decoder decoder(coding, limit);
        // In two pieces, cut where the first byte says.
        const std::size_t cut = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % (input.size() + 1);
        decoder.feed(input.substr(0, cut));
        decoder.feed(input.substr(cut));
        const auto state = decoder.finish();
        check(decoder.output().size() <= limit);
        check(state != Body_Decoder::State::running);
        if (state == Body_Decoder::State::failed) check(!decoder.problem().empty());
    }
}

void settings(std::string_view input) {
    try {
        const Proxy_Options options = read_proxy_settings(input);
        check(options.head_limit.count() > 0 && options.idle_limit.count() > 0);
        for (Port port : options.tunnel_ports) check(port != 0);
        for (const Client_Range& range : options.allowed_clients) check(range.prefix >= 0 && range.prefix <= 32);
    } catch (const Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string copy(reinterpret_cast<const char*>(data), size);  // exact bounds for ASan
    const std::string_view input = copy;
    request_head(input);
    response_head(input);
    codings(input);
    settings(input);
    return 0;
}
