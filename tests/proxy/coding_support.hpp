#pragma once
// Compressing test bodies with zlib: gzip, zlib-wrapped deflate and raw deflate.

#include <zlib.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace test {

enum class Packing { gzip = 16 + MAX_WBITS, zlib = MAX_WBITS, raw = -MAX_WBITS };

inline std::string packed(std::string_view data, Packing packing) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, static_cast<int>(packing), 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

}  // namespace test
