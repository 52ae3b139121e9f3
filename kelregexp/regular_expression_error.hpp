#pragma once

#include "zib/exception.hpp"

// A pattern that does not compile; there is no detail on where or why.
class Regular_Expression_Error : public Error {
public:
    Regular_Expression_Error() : Error("Failed to Compile Regular Expression.") {}
    const char* type_name() const noexcept override { return "Regular_Expression_Error"; }
};
