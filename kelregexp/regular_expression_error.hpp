#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/exception.hpp"

namespace kelregexp {

// A pattern that does not compile. The message is the same for every fault;
// where and why are given beside it: the byte offset in the pattern (0 is
// its first byte) and a short reason such as "group not closed".
class Regular_Expression_Error : public base::Error {
public:
    Regular_Expression_Error(std::size_t position = 0, std::string reason = "invalid pattern")
        : base::Error("Failed to Compile Regular Expression."), position_(position), reason_(std::move(reason)) {}
    const char* type_name() const noexcept override { return "Regular_Expression_Error"; }

    std::size_t position() const noexcept { return position_; }
    const std::string& reason() const noexcept { return reason_; }

private:
    std::size_t position_;
    std::string reason_;
};

// A match gave up: the pattern took more steps on the text than the budget
// for a text of its size allows (it backtracks without end there). Nothing
// is known about whether it would have matched.
class Match_Budget_Error : public base::Error {
public:
    Match_Budget_Error(std::int64_t budget, std::size_t text_size)
        : base::Error("step budget exhausted (" + std::to_string(budget) + " steps for " + std::to_string(text_size) +
                      " bytes)"),
          budget_(budget) {}
    const char* type_name() const noexcept override { return "Match_Budget_Error"; }

    std::int64_t budget() const noexcept { return budget_; }

private:
    std::int64_t budget_;
};

}  // namespace kelregexp
