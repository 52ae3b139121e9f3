#include "base/exception.hpp"

#include <new>

namespace base {

std::string_view type_name_of(const std::exception& error) noexcept {
    if (auto* own = dynamic_cast<const Exception*>(&error)) return own->type_name();
    if (dynamic_cast<const std::bad_alloc*>(&error)) return "OutOfMemory";
    return "std::exception";
}

std::string_view message_of(const std::exception& error) noexcept {
    if (auto* own = dynamic_cast<const Exception*>(&error)) return own->message();
    return error.what();
}

}  // namespace base
