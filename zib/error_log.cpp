#include "zib/error_log.hpp"

#include "base/exception.hpp"

namespace zib {

using base::Create_Error;
using base::File_Stream;

std::unique_ptr<File_Stream> open_error_log(const std::string& name) {
    auto stream = std::make_unique<File_Stream>();
    if (stream->open_at_end(name) == 0) return stream;
    if (stream->create(name) != 0) throw Create_Error("unable to create file '" + name + "'");
    stream->write_string("\xEF\xBB\xBF");
    return stream;
}

}  // namespace zib
