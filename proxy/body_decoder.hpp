#pragma once
// Decodes a gzip or deflate body as it arrives, into at most `limit` bytes.
// States: running (more input expected) → finished (the coded stream ended;
// a gzip body may hold several members), or failed (corrupt input, or input
// after the end), or over_limit (the decoded bytes would pass the limit).
// The last three are final: further input is ignored.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "proxy/content_coding.hpp"

namespace proxy {

class Body_Decoder {
public:
    enum class State { running, finished, failed, over_limit };

    // `coding` is gzip or deflate.
    Body_Decoder(Content_Coding coding, std::size_t limit);
    ~Body_Decoder();
    Body_Decoder(const Body_Decoder&) = delete;
    Body_Decoder& operator=(const Body_Decoder&) = delete;

    // Decodes the next piece of the coded body.
    State feed(std::string_view input);
    // The end of the coded body has been reached: a stream that has not
    // finished by now was cut short (failed).
    State finish();

    State state() const noexcept { return state_; }
    // What went wrong, for failed.
    std::string_view problem() const noexcept { return problem_; }
    std::string& output() noexcept { return output_; }

private:
    struct Stream;

    bool start(std::string_view input);
    State inflate_some(std::string_view input);
    void fail(std::string_view why);

    Content_Coding coding_;
    std::size_t limit_;
    State state_ = State::running;
    std::string problem_;
    std::string output_;
    std::string pending_;  // the first byte of a deflate body, until the second tells its format
    std::unique_ptr<Stream> stream_;
    bool finished_member_ = false;  // the coded stream reached its end
};

}  // namespace proxy
