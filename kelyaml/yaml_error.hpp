#pragma once
// Every failure of the YAML reader and writer.

#include "base/exception.hpp"

namespace kelyaml {

class Yaml_Error : public base::Error {
public:
    using base::Error::Error;
    const char* type_name() const noexcept override { return "Yaml_Error"; }
};

}  // namespace kelyaml
