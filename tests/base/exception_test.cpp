#include "base/exception.hpp"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

// Log lines and message boxes show the type name of whatever was caught.
// (Exception and FileException: through the program, in program_e2e.py.)
TEST(Exception, TypeNamesAndMessagesThroughTheBase) {
    const std::tuple<std::exception_ptr, std::string_view, std::string_view> cases[] = {
        {std::make_exception_ptr(base::Error("e")), "Error", "e"},
        {std::make_exception_ptr(base::Create_Error("c")), "CreateError", "c"},
        {std::make_exception_ptr(base::Write_Error("w")), "WriteError", "w"},
        {std::make_exception_ptr(std::bad_alloc()), "OutOfMemory", std::bad_alloc().what()},
        {std::make_exception_ptr(std::runtime_error("boom")), "std::exception", "boom"}};
    for (const auto& [error, type, message] : cases) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            EXPECT_EQ(base::type_name_of(e), type);
            EXPECT_EQ(base::message_of(e), message);
        }
    }
}
