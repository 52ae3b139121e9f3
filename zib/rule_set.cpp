#include "zib/rule_set.hpp"

#include <mutex>

#include "base/exception.hpp"
#include "base/page_buffers.hpp"
#include "base/streams.hpp"
#include "kelyaml/yaml_reader.hpp"
#include "win32/file.hpp"
#include "win32/text.hpp"
#include "win32/windows.hpp"
#include "zib/proxy_settings.hpp"

namespace zib {

using base::error_log;
using base::File_Exception;
using base::message_of;
using base::type_name_of;
using base::window_log;

using kelregexp::Match_Budget_Error;
using kelregexp::Regular_Expression;
using kelregexp::Regular_Expression_Error;
using kelyaml::Array_Access;
using kelyaml::Yaml_Reader;

std::shared_ptr<const Rule_List> rules = std::make_shared<const Rule_List>();

namespace {

// Both in mode A with case ignored; in page text `.` and negated classes also
// stop at line ends.
constexpr int uri_mode = kelregexp::mode_a, uri_options = kelregexp::option_ignore_case;
constexpr int search_mode = kelregexp::mode_a,
              search_options = kelregexp::option_ignore_case | kelregexp::option_multiline;
constexpr const char* settings_name = "setting.yaml";

// Guards only the exchange of the `rules` pointer: held for a copy or a swap,
// never while waiting for anything, so the main thread cannot block on it.
std::mutex rules_pointer_lock;

// Compiles one pattern of rule `index`; reports it and gives null when it does not compile.
std::unique_ptr<const Regular_Expression> compile_pattern(std::size_t index, const char* field, const std::string& text,
                                                          int mode, int options, const Bad_Pattern_Report& report) {
    try {
        return std::make_unique<const Regular_Expression>(text, mode, options);
    } catch (const Regular_Expression_Error& e) {
        report(Bad_Pattern{index, field, text, e.position(), e.reason()});
        return nullptr;
    }
}

void compile(Rule_List& list, const Bad_Pattern_Report& report) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        Rule& rule = list[i];
        rule.valid = 0;
        // A URI pattern that compiled stays even when the search pattern does not.
        rule.uri_pattern = compile_pattern(i, "uri", rule.uri, uri_mode, uri_options, report);
        if (!rule.uri_pattern) continue;
        rule.search_pattern = compile_pattern(i, "search", rule.search, search_mode, search_options, report);
        rule.valid = rule.search_pattern ? 1 : 0;
    }
}

int length_of(std::string_view text) { return static_cast<int>(text.size()); }

void log_rule_error(const char* what, const std::exception& e, std::size_t index, std::string_view uri) {
    const std::string_view message = message_of(e), type = type_name_of(e);
    error_log->printf("error %s %.*s (%.*s) %d \"%.*s\"\r\n", what, length_of(message), message.data(), length_of(type),
                      type.data(), static_cast<int>(index), length_of(uri), uri.data());
}

// A rule that ran out of steps: in error.log, and in the log window so that
// whoever watches the traffic sees why the page was not (fully) filtered.
void log_gave_up(const char* what, const Match_Budget_Error& e, std::size_t index, std::string_view uri) {
    log_rule_error(what, e, index, uri);
    window_log->printf("error %s %s (%s) %d \"%.*s\"\n", what, e.message().c_str(), e.type_name(),
                       static_cast<int>(index), length_of(uri), uri.data());
}

using Clock = std::chrono::steady_clock;

// Rule i's URI test, with the recovery of any error but an exhausted budget:
// logged, the pattern built anew (for this call only: the shared one may be
// in use elsewhere) and the test repeated once.
bool uri_matches(const Rule& rule, std::size_t i, std::string_view uri) {
    try {
        return rule.uri_pattern->matches_whole(uri);
    } catch (const Match_Budget_Error&) {
        throw;
    } catch (const std::exception& e) {
        log_rule_error("URI", e, i, uri);
        const Regular_Expression rebuilt(rule.uri, uri_mode, uri_options);
        const bool hit = rebuilt.matches_whole(uri);
        error_log->printf("reconstructed.\r\n");
        return hit;
    }
}

// Rule i's replace of `html` in place, with the same recovery. `scratch`
// is storage that the rules of one page pass on to each other, so that a
// page is copied only by the rules that change it, into memory already there.
void replace(const Rule& rule, std::size_t i, std::string_view uri, std::string& html, std::string& scratch,
             Regular_Expression::Replace_Stats& stats) {
    try {
        if (rule.search_pattern->replace_all_into(html, rule.replace, scratch, stats)) html.swap(scratch);
    } catch (const Match_Budget_Error&) {
        throw;
    } catch (const std::exception& e) {
        log_rule_error("HTML", e, i, uri);
        const Regular_Expression rebuilt(rule.search, search_mode, search_options);
        if (rebuilt.replace_all_into(html, rule.replace, scratch, stats)) html.swap(scratch);
        error_log->printf("reconstructed.\r\n");
    }
}

// One valid rule on the page, told in `outcome`.
void apply_rule(const Rule& rule, std::size_t i, std::string_view uri, std::string& html, std::string& scratch,
                Rule_Outcome& outcome) {
    try {
        outcome.uri_matched = uri_matches(rule, i, uri);
    } catch (const Match_Budget_Error& e) {
        log_gave_up("URI", e, i, uri);
        outcome.error = e.message();
        return;
    }
    if (!outcome.uri_matched) return;
    window_log->printf("** Hit %d rule. **\n", static_cast<int>(i));
    try {
        Regular_Expression::Replace_Stats stats;
        replace(rule, i, uri, html, scratch, stats);
        outcome.replaced = stats.replaced;
        outcome.steps = stats.steps;
    } catch (const Match_Budget_Error& e) {
        // The page stays as the rules before this one left it.
        log_gave_up("HTML", e, i, uri);
        outcome.error = e.message();
        outcome.steps = e.budget();
    }
}

}  // namespace

std::shared_ptr<const Rule_List> current_rules() {
    std::lock_guard lock(rules_pointer_lock);
    return rules;
}

std::string bad_pattern_text(const Bad_Pattern& bad) {
    return std::to_string(bad.index) + "番目の正規表現が変です\n" + bad.field + ", at " + std::to_string(bad.position) +
           ": " + bad.reason + " — " + bad.pattern;
}

void show_bad_pattern(const Bad_Pattern& bad) {
    MessageBoxW(nullptr, win32::utf8_to_wide(bad_pattern_text(bad)).c_str(), L"Regular_Expression_Error",
                MB_ICONERROR | MB_OK);
}

std::string file_error_text(unsigned long code) {
    switch (code) {
        case 2: return "file not found";
        case 3: return "path not found";
        case 4: return "too many open files";
        case 5: return "access denied";
        case 6: return "invalid handle";
        case 8: return "not enough memory";
        case 14: return "out of memory";
        case 15: return "invalid drive";
        case 21: return "not ready";
        case 32: return "sharing violation";
        case 87: return "invalid parameter";
        default: return std::to_string(code);
    }
}

void load_settings(const Bad_Pattern_Report& report) {
    std::string text;
    if (const auto code = win32::read_whole_file(settings_name, text))
        throw File_Exception(std::string(settings_name) + ": " + file_error_text(code));
    load_settings_text(text, report);
}

void load_settings_text(std::string_view text, const Bad_Pattern_Report& report) {
    // Without a "filter" key the rules stay as they are (compiled again), so
    // the new list starts as a copy of the current texts.
    auto fresh = std::make_shared<Rule_List>();
    {
        const auto old = current_rules();
        fresh->resize(old->size());
        for (std::size_t i = 0; i < old->size(); ++i) {
            (*fresh)[i].uri = (*old)[i].uri;
            (*fresh)[i].search = (*old)[i].search;
            (*fresh)[i].replace = (*old)[i].replace;
        }
    }
    {
        Yaml_Reader reader("zib", text);
        reader.mapping([&] {
            reader.sequence("filter", Array_Access::of(*fresh), [&](std::size_t i) {
                Rule& rule = (*fresh)[i];
                reader.mapping([&] {
                    for (auto [key, target] : {std::pair{"uri", &rule.uri}, std::pair{"search", &rule.search},
                                               std::pair{"replace", &rule.replace}}) {
                        if (reader.key() != key) continue;
                        std::string_view value;
                        reader.field(key, value);
                        target->assign(value);
                    }
                });
            });
        });
    }
    compile(*fresh, report);
    // The proxy's keys of the same text; a bad value leaves the rules as they were.
    load_proxy_settings(text);
    std::shared_ptr<const Rule_List> installed = std::move(fresh);
    std::lock_guard lock(rules_pointer_lock);
    rules.swap(installed);
}

std::string apply_rules(std::string_view uri, std::string html) {
    return apply_rules_observed(uri, std::move(html), {});
}

std::string apply_rules_observed(std::string_view uri, std::string html, const Rule_Observer& observer) {
    const auto list = current_rules();
    std::string scratch = base::take_page_buffer();
    for (std::size_t i = 0; i < list->size(); ++i) {
        const Rule& rule = (*list)[i];
        if (!rule.valid) continue;
        Rule_Outcome outcome;
        outcome.index = i;
        const auto start = observer ? Clock::now() : Clock::time_point{};
        apply_rule(rule, i, uri, html, scratch, outcome);
        if (!observer) continue;
        outcome.time = Clock::now() - start;
        observer(outcome);
    }
    base::give_page_buffer(std::move(scratch));
    return html;
}

}  // namespace zib
