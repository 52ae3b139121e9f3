#include "base/file_stream.hpp"

#include <cstdarg>
#include <cstdio>

#include "base/exception.hpp"

namespace base {

int File_Stream::printf(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return length;
    }
    std::string text;
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(again);
        text.assign(small, static_cast<std::size_t>(length));
    } else {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        va_end(again);
        text.resize(static_cast<std::size_t>(length));
    }
    write_string(text);
    return length;
}

void File_Stream::write_line(std::string_view text) {
    write_string(text);
    write_string("\r\n");
}

void File_Stream::write_string(std::string_view text) {
    if (file_.write(text) != text.size()) throw Write_Error("unable to write to stream");
}

}  // namespace base
