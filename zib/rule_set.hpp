#pragma once
// The rules of setting.yaml: for every HTML answer whose request URI matches a
// rule's URI pattern as a whole, the rule's search pattern is replaced in the
// body, rule after rule in file order.
//
// Compiled patterns are shared by every connection: many pages are filtered
// at once, each on the rule list that was in place when its filtering began.
// A reload builds a new list aside and puts it in place without waiting for
// anyone; lists still in use live until their last user is done.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kelregexp/regular_expression.hpp"

namespace zib {

struct Rule {
    std::string uri;
    std::string search;
    std::string replace;
    std::unique_ptr<const kelregexp::Regular_Expression> uri_pattern;
    std::unique_ptr<const kelregexp::Regular_Expression> search_pattern;
    std::int32_t valid = 0;
};

using Rule_List = std::vector<Rule>;

// The loaded rules. Read the pointer with current_rules().
extern std::shared_ptr<const Rule_List> rules;

std::shared_ptr<const Rule_List> current_rules();

// A rule pattern that does not compile: the rule's index, which field, its
// text, and where (byte offset in the pattern) and why it fails.
struct Bad_Pattern {
    std::size_t index = 0;
    std::string field;  // "uri" or "search"
    std::string pattern;
    std::size_t position = 0;
    std::string reason;
};
// The two lines that report it: "<index>番目の正規表現が変です" and, for
// example, "search, at 14: group not closed — <the pattern>".
std::string bad_pattern_text(const Bad_Pattern& bad);
using Bad_Pattern_Report = std::function<void(const Bad_Pattern&)>;
// The program's report: a message box, which the user closes before loading goes on.
void show_bad_pattern(const Bad_Pattern& bad);

// Reads setting.yaml from the current directory and puts its rules in place.
// A pattern that does not compile is reported and its rule disabled; any
// other error (file, YAML) propagates and leaves the rules as they were.
void load_settings(const Bad_Pattern_Report& report = show_bad_pattern);
// The same from a settings text already in hand.
void load_settings_text(std::string_view text, const Bad_Pattern_Report& report = show_bad_pattern);

// The body after every matching rule (the html_filter of the proxy). A rule
// whose matching exhausts its step budget leaves the body as the rules before
// it left it; the error is logged and the other rules still run.
std::string apply_rules(std::string_view uri, std::string html);

// What one valid rule did in one application, for the rule tester.
struct Rule_Outcome {
    std::size_t index = 0;
    bool uri_matched = false;
    std::size_t replaced = 0;  // matches of the search pattern replaced
    std::int64_t steps = 0;    // steps of the replace
    std::chrono::nanoseconds time{0};
    std::string error;  // the error that ended the rule, if any
};
using Rule_Observer = std::function<void(const Rule_Outcome&)>;
// apply_rules, telling `observer` about every valid rule as it finishes.
std::string apply_rules_observed(std::string_view uri, std::string html, const Rule_Observer& observer);

// The short text for a Windows system error code in a file error.
std::string file_error_text(unsigned long code);

}  // namespace zib
