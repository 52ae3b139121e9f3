// Content codings: which codings the origin is offered, and the decoder that
// turns gzip and deflate HTML back into text for the rules, within a bound.

#include <gtest/gtest.h>

#include "proxy/body_decoder.hpp"
#include "proxy/content_coding.hpp"
#include "proxy_fixture.hpp"

using proxy::Body_Decoder;
using proxy::Content_Coding;
using State = Body_Decoder::State;
using test::packed;
using test::Packing;

TEST(Content_Coding, OfferedCodings) {
    // What the browser offers, what the origin is offered. (The codings that
    // answers name: in the proxy's own tests, with real answers.)
    const std::pair<std::string_view, std::string_view> offers[] = {{"br;q=1, gzip;q=0.8, *", "gzip;q=0.8"},
                                                                    {"GZIP,x-gzip , Deflate", "GZIP, x-gzip, Deflate"},
                                                                    {"identity", "identity"},
                                                                    {"*", "identity"},
                                                                    {" , ,gzip", "gzip"}};
    for (const auto& [offered, kept] : offers) EXPECT_EQ(proxy::decodable_codings(offered), kept) << offered;
}

namespace {

// Feeds `coded` in pieces of `piece` bytes, each a string of its own (a
// decoder must not look past a piece), then finishes.
State decode(Body_Decoder& decoder, std::string_view coded, std::size_t piece) {
    for (std::size_t at = 0; at < coded.size(); at += piece) decoder.feed(std::string(coded.substr(at, piece)));
    return decoder.finish();
}

}  // namespace

TEST(Body_Decoder, DecodesEveryFormatInAnyPiecesFailsOnBadInputAndHoldsItsLimit) {
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) text += "<p>line " + std::to_string(i * 7919 % 1000) + "</p>\n";
    const std::string gz = packed(text, Packing::gzip);
    for (Packing packing : {Packing::gzip, Packing::zlib, Packing::raw}) {
        const std::string coded = packed(text, packing);
        for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{1000}, coded.size()}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(packing)) + " in pieces of " + std::to_string(piece));
            Body_Decoder decoder(packing == Packing::gzip ? Content_Coding::gzip : Content_Coding::deflate, 1 << 20);
            EXPECT_EQ(decode(decoder, coded, piece), State::finished);
            EXPECT_TRUE(decoder.output() == text);
        }
    }
    Body_Decoder decoder(Content_Coding::gzip, 1 << 20);
    EXPECT_EQ(decode(decoder, gz + packed("tail", Packing::gzip), 333), State::finished);
    EXPECT_TRUE(decoder.output() == text + "tail");
    struct Case {
        const char* what;
        Content_Coding coding;
        std::string coded;
        std::size_t limit;
        State state;
        std::string_view problem = "";
    };
    const Case cases[] = {
        {"garbage after deflate", Content_Coding::deflate, packed(text, Packing::zlib) + "xx", 1 << 20, State::failed,
         "data after the end"},
        {"limit exactly", Content_Coding::gzip, gz, text.size(), State::finished},
        {"one byte over", Content_Coding::gzip, gz, text.size() - 1, State::over_limit},
        {"a bomb", Content_Coding::gzip, packed(std::string(64 << 20, '\0'), Packing::gzip), 1 << 20,
         State::over_limit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Body_Decoder decoder(c.coding, c.limit);
        EXPECT_EQ(decode(decoder, c.coded, 4096), c.state);
        EXPECT_LE(decoder.output().capacity(), 2 * c.limit + 65536);
        EXPECT_EQ(decoder.problem().empty(), c.state != State::failed);
        EXPECT_TRUE(decoder.problem().starts_with(c.problem)) << decoder.problem();
    }
}
