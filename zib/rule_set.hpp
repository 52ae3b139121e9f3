#pragma once
// The rules of setting.yaml: for every HTML answer whose request URI matches a
// rule's URI pattern as a whole, the rule's search pattern is replaced in the
// body, rule after rule in file order.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kelregexp/regular_expression.hpp"

struct Rule {
    std::string uri;
    std::string search;
    std::string replace;
    std::unique_ptr<Regular_Expression> uri_pattern;
    std::unique_ptr<Regular_Expression> search_pattern;
    std::int32_t valid = 0;
};

using Rule_List = std::vector<Rule>;

// The loaded rules. A reload builds a new list aside and puts it in place, so
// it never waits for a rule application; one that is running keeps the list it
// started with until it ends. Read the pointer with current_rules().
extern std::shared_ptr<Rule_List> rules;
// Held by apply_rules for its whole run: compiled patterns are used (and
// rebuilt after an error) by one connection at a time.
extern std::mutex rule_lock;

std::shared_ptr<Rule_List> current_rules();

// Reads setting.yaml from the current directory and puts its rules in place.
// A pattern that does not compile is reported in a message box and its rule
// disabled; any other error (file, YAML) propagates and leaves the rules as they were.
void load_settings();
// The same from a settings text already in hand.
void load_settings_text(std::string_view text);

// The body after every matching rule (the html_filter of the proxy).
std::string apply_rules(std::string_view uri, std::string html);

// The short text for a Windows system error code in a file error.
std::string file_error_text(unsigned long code);
