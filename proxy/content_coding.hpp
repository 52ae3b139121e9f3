#pragma once
// Content codings of HTTP bodies: which ones the proxy can decode for the
// rules, as named in Content-Encoding and offered in Accept-Encoding.

#include <string>
#include <string_view>

namespace proxy {

enum class Content_Coding {
    identity,     // no coding (or "identity")
    gzip,         // "gzip" or "x-gzip"
    deflate,      // "deflate": zlib format, or raw deflate as some servers send
    unsupported,  // any other coding, or more than one
};

// The coding a Content-Encoding value names; ASCII case and surrounding
// spaces ignored.
Content_Coding content_coding(std::string_view value);
// The name for log lines.
std::string_view coding_name(Content_Coding coding);

// An Accept-Encoding value cut to the codings the proxy can decode, each item
// kept as written (with its parameters); "identity" when none is left.
std::string decodable_codings(std::string_view accept_encoding);

}  // namespace proxy
