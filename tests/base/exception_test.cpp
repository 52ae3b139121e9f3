#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "base/exception.hpp"

using base::Create_Error;
using base::Error;
using base::Exception;
using base::File_Exception;
using base::message_of;
using base::type_name_of;
using base::Write_Error;

// Log lines and message boxes show the type name of whatever was caught.
TEST(Exception, TypeNamesAndMessagesThroughTheBase) {
    struct Case {
        std::exception_ptr error;
        std::string_view type;
        std::string_view message;
    };
    const Case cases[] = {
        {std::make_exception_ptr(Exception("二重起動になります")), "Exception", "二重起動になります"},
        {std::make_exception_ptr(Error("e")), "Error", "e"},
        {std::make_exception_ptr(File_Exception("setting.yaml: file not found")), "FileException",
         "setting.yaml: file not found"},
        {std::make_exception_ptr(Create_Error("unable to create file 'x'")), "CreateError",
         "unable to create file 'x'"},
        {std::make_exception_ptr(Write_Error("unable to write to stream")), "WriteError", "unable to write to stream"},
        {std::make_exception_ptr(std::bad_alloc()), "OutOfMemory", std::bad_alloc().what()},
        {std::make_exception_ptr(std::runtime_error("boom")), "std::exception", "boom"},
    };
    for (const auto& c : cases) {
        try {
            std::rethrow_exception(c.error);
        } catch (const std::exception& e) {
            EXPECT_EQ(type_name_of(e), c.type);
            EXPECT_EQ(message_of(e), c.message);
        }
    }
}
