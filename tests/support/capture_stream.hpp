#pragma once
// A log stream that keeps what was written, for tests that read the log.

#include <mutex>
#include <string>

#include "base/file_stream.hpp"

namespace test {

class Capture_Stream : public base::File_Stream {
public:
    void write_string(std::string_view text) override {
        std::lock_guard lock(mutex_);
        text_.append(text);
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        text_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace test
