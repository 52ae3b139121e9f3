#include "base/streams.hpp"

File_Stream* window_log = nullptr;
File_Stream* error_log = nullptr;
