#pragma once
// The error log file: appended to across runs, and begun with a UTF-8 byte
// order mark when it is first created.

#include <memory>
#include <string>

#include "base/file_stream.hpp"

namespace zib {

// Opens the file for reading and writing at its end; if that fails, creates
// it and writes EF BB BF. Throws Create_Error ("unable to create file '<name>'")
// when it can be neither opened nor created.
std::unique_ptr<base::File_Stream> open_error_log(const std::string& name);

}  // namespace zib
