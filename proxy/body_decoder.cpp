#include "proxy/body_decoder.hpp"

#include <zlib.h>

#include <algorithm>

namespace proxy {

struct Body_Decoder::Stream {
    z_stream z{};
    bool open = false;
    ~Stream() {
        if (open) inflateEnd(&z);
    }
};

namespace {

constexpr std::size_t piece = 64 * 1024;

// Whether two bytes open a zlib stream (RFC 1950): deflate method, and a
// header check that divides by 31. Anything else is taken as raw deflate.
bool is_zlib_header(unsigned char cmf, unsigned char flg) { return (cmf & 0x0F) == 8 && (cmf * 256 + flg) % 31 == 0; }

}  // namespace

Body_Decoder::Body_Decoder(Content_Coding coding, std::size_t limit) : coding_(coding), limit_(limit) {}

Body_Decoder::~Body_Decoder() = default;

void Body_Decoder::fail(std::string_view why) {
    state_ = State::failed;
    problem_.assign(why);
    stream_.reset();
}

bool Body_Decoder::start(std::string_view input) {
    int window_bits = 16 + MAX_WBITS;  // gzip only
    if (coding_ == Content_Coding::deflate)
        window_bits = is_zlib_header(static_cast<unsigned char>(input[0]), static_cast<unsigned char>(input[1]))
                          ? MAX_WBITS
                          : -MAX_WBITS;
    stream_ = std::make_unique<Stream>();
    if (inflateInit2(&stream_->z, window_bits) != Z_OK) {
        fail("zlib could not start");
        return false;
    }
    stream_->open = true;
    return true;
}

Body_Decoder::State Body_Decoder::feed(std::string_view input) {
    if (state_ != State::running || input.empty()) return state_;
    if (!stream_) {
        // A deflate body's format shows in its first two bytes.
        if (coding_ == Content_Coding::deflate && pending_.size() + input.size() < 2) {
            pending_.append(input);
            return state_;
        }
        if (!pending_.empty()) {
            const std::string joined = std::move(pending_).append(input);
            pending_.clear();
            return start(joined) ? inflate_some(joined) : state_;
        }
        if (!start(input)) return state_;
    }
    return inflate_some(input);
}

Body_Decoder::State Body_Decoder::inflate_some(std::string_view input) {
    z_stream& z = stream_->z;
    while (!input.empty() && state_ == State::running) {
        if (finished_member_) {
            // Only another gzip member may follow the end of one.
            if (coding_ != Content_Coding::gzip) {
                fail("data after the end of the deflate stream");
                break;
            }
            inflateReset(&z);
            finished_member_ = false;
        }
        const std::size_t chunk = std::min<std::size_t>(input.size(), 1u << 30);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        z.avail_in = static_cast<uInt>(chunk);
        int result;
        do {
            // Never more than one byte past the limit, so memory stays bounded.
            const std::size_t before = output_.size();
            const std::size_t room = std::min(piece, limit_ + 1 - before);
            output_.resize(before + room);
            z.next_out = reinterpret_cast<Bytef*>(output_.data() + before);
            z.avail_out = static_cast<uInt>(room);
            result = inflate(&z, Z_NO_FLUSH);
            output_.resize(before + room - z.avail_out);
            if (output_.size() > limit_) {
                state_ = State::over_limit;
                output_.clear();
                output_.shrink_to_fit();
                stream_.reset();
                return state_;
            }
            if (result == Z_STREAM_END) {
                finished_member_ = true;
                break;
            }
            if (result != Z_OK && result != Z_BUF_ERROR) {
                fail(z.msg ? z.msg : "corrupt data");
                return state_;
            }
        } while (z.avail_in > 0 || z.avail_out == 0);
        input.remove_prefix(chunk - z.avail_in);
    }
    return state_;
}

Body_Decoder::State Body_Decoder::finish() {
    if (state_ != State::running) return state_;
    if (finished_member_) {
        state_ = State::finished;
        stream_.reset();
    } else {
        fail("the body ends before the coded data does (truncated)");
    }
    return state_;
}

}  // namespace proxy
