#pragma once
// The log window's stream: every complete line written to it becomes one
// item of the main window's list box, which keeps the last MAX_LOG_LINES.

#include <mutex>
#include <string>
#include <string_view>

#include "zib/file_stream.hpp"

constexpr int MAX_LOG_LINES = 1024;

class Log_Stream : public File_Stream {
public:
    Log_Stream() = default;

    // Adds each line ended by a line feed to the window (without the line
    // feed and a carriage return before it; "(BIN)" for a line that is not
    // well-formed UTF-8) and keeps the rest for the next write. Returns once
    // the window's thread has taken every line; lines are lost, without an
    // error, when the window no longer exists.
    void write_string(std::string_view text) override;

private:
    // Re-entrant: a write may come back to this stream from the same thread.
    std::recursive_mutex lock;
    std::string pending;
};
