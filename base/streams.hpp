#pragma once
// The program's two output streams, installed at start-up: every module
// writes its trace lines to `window_log` and its error reports to `error_log`.

#include "base/file_stream.hpp"

namespace base {

extern File_Stream* window_log;
extern File_Stream* error_log;

}  // namespace base
