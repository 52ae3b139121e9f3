#include "base/streams.hpp"

namespace base {

File_Stream* window_log = nullptr;
File_Stream* error_log = nullptr;

}  // namespace base
