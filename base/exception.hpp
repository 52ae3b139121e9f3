#pragma once
// The program's error values: each carries its message (UTF-8 bytes) and the
// type name that log lines and message boxes show.

#include <exception>
#include <string>
#include <string_view>

namespace base {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}

    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }
    virtual const char* type_name() const noexcept { return "Exception"; }

private:
    std::string message_;
};

// Base of the regular-expression and YAML errors.
class Error : public Exception {
public:
    using Exception::Exception;
    const char* type_name() const noexcept override { return "Error"; }
};

// A file could not be opened or read; the message names the file.
class File_Exception : public Exception {
public:
    using Exception::Exception;
    const char* type_name() const noexcept override { return "FileException"; }
};

class Create_Error : public Exception {
public:
    using Exception::Exception;
    const char* type_name() const noexcept override { return "CreateError"; }
};

class Write_Error : public Exception {
public:
    using Exception::Exception;
    const char* type_name() const noexcept override { return "WriteError"; }
};

// An internal invariant broke (a window that could not be made, ...).
class Assertion_Error : public Exception {
public:
    using Exception::Exception;
    const char* type_name() const noexcept override { return "Assertion_Error"; }
};

// Type name and message of any caught error, for logs and message boxes.
std::string_view type_name_of(const std::exception& error) noexcept;
std::string_view message_of(const std::exception& error) noexcept;

}  // namespace base
