// Compressed and oversized HTML through the real listener and relay, against
// an origin on loopback: decoded and filtered when possible, otherwise
// delivered exactly as the origin sent it, with the reason in error.log.

#include <gtest/gtest.h>

#include <thread>

#include "coding_support.hpp"
#include "proxy_fixture.hpp"

using proxy::Proxy_Options;

using namespace std::chrono_literals;
using test::count_of;
using test::Origin;
using test::packed;
using test::Packing;
using test::Raw_Connection;

namespace {

std::string page_of(std::size_t size) {
    std::string page = "<html><body>\n";
    while (page.size() < size) page += "<p>hello from the moor, hello again</p>\n";
    return page + "</body></html>\n";
}

// The rules of these tests: every "hello" bracketed (the page grows).
std::string bracket(std::string body) {
    std::string out;
    for (std::size_t at = 0;;) {
        const auto hit = body.find("hello", at);
        out.append(body, at, hit == std::string::npos ? std::string::npos : hit - at);
        if (hit == std::string::npos) return out;
        out += "[hello]";
        at = hit + 5;
    }
}

std::string head_of(std::string_view type, std::string_view coding, const std::string* length) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(type) + "\r\n";
    if (!coding.empty()) head += "Content-Encoding: " + std::string(coding) + "\r\n";
    if (length) head += "Content-Length: " + *length + "\r\n";
    return head + "Vary: Accept-Encoding\r\n\r\n";
}

struct Answer {
    std::string head, body;
    std::size_t piece = 0;  // when set, the body goes out in pieces of this size with pauses
};

}  // namespace

class Compression : public test::Proxy_Fixture {
protected:
    void SetUp() override {
        Proxy_Fixture::SetUp();
        filter = [](std::string_view, std::string body) { return bracket(std::move(body)); };
        set_options([](Proxy_Options& o) { o.html_limit = 1 << 20; });
    }

    // Serves `answer` once through the proxy; returns what the browser got.
    std::string fetch(const Answer& answer) {
        Origin origin([&](Raw_Connection& c, Origin& o) {
            o.read_request(c);
            c.send_all(answer.head);
            const std::size_t piece = answer.piece ? answer.piece : answer.body.size() + 1;
            for (std::size_t at = 0; at < answer.body.size(); at += piece) {
                c.send_all(answer.body.substr(at, piece));
                if (answer.piece) std::this_thread::sleep_for(1ms);
            }
        });
        errors.clear();
        const std::string got = exchange("GET " + origin.url("/page") + " HTTP/1.1\r\nHost: x\r\n\r\n");
        wait_idle();
        return got;
    }
};

TEST_F(Compression, DecodableHtmlIsFilteredAndSentAsIdentity) {
    const std::string page = page_of(40000), filtered = bracket(page);
    const std::string length = std::to_string(filtered.size());
    struct Case {
        const char* what;
        std::string coding;
        Packing packing;
        bool with_length;
        std::size_t piece;
        std::string decoded_line;
    };
    const std::string decoded = ": " + std::to_string(page.size()) + " byte\n";
    const Case cases[] = {
        {"gzip", "gzip", Packing::gzip, true, 0, " decoded gzip" + decoded},
        {"gzip in pieces", "gzip", Packing::gzip, true, 777, " decoded gzip" + decoded},
        {"x-gzip without length", "x-gzip", Packing::gzip, false, 0, " decoded gzip" + decoded},
        {"deflate (zlib)", "deflate", Packing::zlib, true, 0, " decoded deflate" + decoded},
        {"deflate (raw)", "Deflate", Packing::raw, true, 1, " decoded deflate" + decoded},
    };
    for (const auto& c : cases) {
        const std::string coded = packed(page, c.packing), coded_length = std::to_string(coded.size());
        const std::string got = fetch(
            {head_of("text/html; charset=utf-8", c.coding, c.with_length ? &coded_length : nullptr), coded, c.piece});
        // The coding line is gone, the length is the body's as sent.
        const std::string want_head = c.with_length
                                          ? head_of("text/html; charset=utf-8", "", &length)
                                          : "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nVary: "
                                            "Accept-Encoding\r\nContent-Length: " +
                                                length + "\r\n\r\n";
        EXPECT_EQ(got.substr(0, got.find("\r\n\r\n") + 4), want_head) << c.what;
        EXPECT_TRUE(got.ends_with("\r\n\r\n" + filtered)) << c.what;
        EXPECT_EQ(errors.text(), "") << c.what;
        EXPECT_NE(log.text().find(c.decoded_line), std::string::npos) << c.what;
        log.clear();
    }
}

TEST_F(Compression, WhatCannotBeFilteredArrivesExactlyAsSent) {
    const std::string page = page_of(40000);
    const std::string gz = packed(page, Packing::gzip);
    std::string corrupt = gz;
    for (std::size_t i = 100; i < 140; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x33);
    const std::string truncated = gz.substr(0, gz.size() / 2);
    const std::string bomb = packed(std::string(50 << 20, ' '), Packing::gzip);  // ~50 KiB inflating to 50 MiB
    const std::string big = page_of(3 << 20);
    auto length_of = [](const std::string& s) { return std::to_string(s.size()); };
    const std::string gz_len = length_of(gz), corrupt_len = length_of(corrupt), cut_len = length_of(truncated),
                      bomb_len = length_of(bomb), big_len = length_of(big);
    struct Case {
        const char* what;
        Answer answer;
        const char* reason;  // in error.log, or "" for none
    };
    const Case cases[] = {
        {"corrupt gzip", {head_of("text/html", "gzip", &corrupt_len), corrupt}, "(gzip body not decodable: "},
        {"truncated gzip", {head_of("text/html", "gzip", &cut_len), truncated, 1000}, "(truncated)"},
        {"unknown coding", {head_of("text/html", "br", &gz_len), gz}, "(content coding br not decodable)"},
        {"compressed script", {head_of("application/javascript", "gzip", &gz_len), gz}, ""},
        {"gzip bomb",
         {head_of("text/html", "gzip", &bomb_len), bomb},
         "(decoded body over the limit of 1048576 bytes)"},
        {"long page with length",
         {head_of("text/html", "", &big_len), big, 65536},
         "(Content-Length over the limit of 1048576 bytes)"},
        {"long page without length",
         {head_of("text/html", "", nullptr), big, 65536},
         "(body over the limit of 1048576 bytes)"},
        {"no body", {"HTTP/1.1 304 Not Modified\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n\r\n", ""}, ""},
    };
    for (const auto& c : cases) {
        const std::string got = fetch(c.answer);
        EXPECT_TRUE(got == c.answer.head + c.answer.body) << c.what << ": " << got.size() << " bytes";
        if (*c.reason) {
            const std::string text = errors.text();
            EXPECT_TRUE(text.starts_with("error in response thread #")) << c.what << ": " << text;
            EXPECT_NE(text.find(" html passed unfiltered "), std::string::npos) << c.what << ": " << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << c.what << ": " << text;
            EXPECT_TRUE(text.ends_with("/page\r\n")) << c.what << ": " << text;
            EXPECT_EQ(count_of(log.text(), " html passed unfiltered: "), 1u) << c.what;
            log.clear();
        } else {
            EXPECT_EQ(errors.text(), "") << c.what;
        }
    }
    // Codings applied one after the other are not undone.
    const std::string twice =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n"
        "Content-Encoding: gzip\r\n\r\n" +
        packed(gz, Packing::gzip);
    EXPECT_EQ(fetch({twice, ""}), twice);
    EXPECT_NE(errors.text().find("(content coding gzip, gzip not decodable)"), std::string::npos) << errors.text();
}

TEST_F(Compression, OriginIsOfferedOnlyDecodableCodings) {
    Origin origin([](Raw_Connection& c, Origin& o) {
        o.read_request(c);
        c.send_all("HTTP/1.0 204 No Content\r\n\r\n");
    });
    exchange(
        "GET " + origin.url("/") +
        " HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip, deflate, br, zstd\r\naccept-encoding:br\nAccept: */*\r\n\r\n");
    wait_idle();
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(origin.requests()[0],
              "GET / HTTP/1.0\r\nHost: x\r\nAccept-Encoding: gzip, deflate\r\naccept-encoding: identity\nAccept: "
              "*/*\r\n\r\n");
}
