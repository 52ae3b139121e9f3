#pragma once
// The rule set's hook: given the request target and a whole HTML body,
// returns the body to send to the browser.

#include <functional>
#include <string>
#include <string_view>

namespace proxy {

using Html_Filter = std::function<std::string(std::string_view target, std::string body)>;

}  // namespace proxy
