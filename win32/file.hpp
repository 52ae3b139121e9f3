#pragma once
// Whole-file read and a plain unbuffered file for appending, reporting Windows
// system error codes on both platforms (2 = file not found, 5 = access denied, ...).

#include <cstddef>
#include <string>
#include <string_view>

namespace win32 {

using Error_Code = unsigned long;

// Reads the whole file into `contents`; returns 0 or the system error code.
Error_Code read_whole_file(const std::string& name, std::string& contents);

class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Opens an existing file for reading and writing (others may read it
    // meanwhile) and moves to its end. Returns 0 or the system error code.
    Error_Code open_existing_at_end(const std::string& name);
    // Creates the file write-only, truncating it. Returns 0 or the error code.
    Error_Code create(const std::string& name);
    // Writes at the current position straight to the file; returns the count written.
    std::size_t write(std::string_view data);
    bool is_open() const noexcept;
    void close() noexcept;

private:
#ifdef _WIN32
    void* handle_ = reinterpret_cast<void*>(-1);
#else
    int handle_ = -1;
#endif
};

#ifndef _WIN32
// The Windows system error code for an errno value.
Error_Code error_code_from_errno(int error) noexcept;
#endif

}  // namespace win32
