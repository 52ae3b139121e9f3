#pragma once
// An unbuffered output stream with printf-style writing: the class of the
// error log, and the base of the log window's stream.

#include <string>
#include <string_view>

#include "win32/file.hpp"

namespace base {

class File_Stream {
public:
    File_Stream() = default;
    File_Stream(const File_Stream&) = delete;
    File_Stream& operator=(const File_Stream&) = delete;
    virtual ~File_Stream() = default;

    // Opens an existing file for reading and writing, positioned at its end.
    win32::Error_Code open_at_end(const std::string& name) { return file_.open_existing_at_end(name); }
    // Creates (truncates) the file for writing.
    win32::Error_Code create(const std::string& name) { return file_.create(name); }

    // Formats by the C printf rules, without a length limit, and hands the
    // whole result to one write_string. Returns the number of bytes formatted.
    int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The text, then "\r\n": two write_string calls.
    void write_line(std::string_view text);
    // Writes the bytes straight to the file; a short write throws Write_Error.
    virtual void write_string(std::string_view text);

private:
    win32::File file_;
};

}  // namespace base
