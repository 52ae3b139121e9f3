#include "zib/rule_set.hpp"

#include "kelyaml/yaml_reader.hpp"
#include "win32/file.hpp"
#include "win32/text.hpp"
#include "win32/windows.hpp"
#include "zib/exception.hpp"
#include "zib/proxy_settings.hpp"
#include "zib/streams.hpp"

std::shared_ptr<Rule_List> rules = std::make_shared<Rule_List>();
std::mutex rule_lock;

namespace {

constexpr int uri_mode = 1, uri_options = 2;
constexpr int search_mode = 1, search_options = 18;
constexpr const char* settings_name = "setting.yaml";

// Guards only the exchange of the `rules` pointer: held for a copy or a swap,
// never while waiting for anything, so the main thread cannot block on it.
std::mutex rules_pointer_lock;

void report_bad_pattern(std::size_t index) {
    const std::string text = std::to_string(index) + "番目の正規表現が変です";
    MessageBoxW(nullptr, win32::utf8_to_wide(text).c_str(), L"Regular_Expression_Error", MB_ICONERROR | MB_OK);
}

void compile(Rule_List& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        Rule& rule = list[i];
        rule.valid = 0;
        try {
            rule.uri_pattern = std::make_unique<Regular_Expression>(rule.uri, uri_mode, uri_options);
            rule.search_pattern = std::make_unique<Regular_Expression>(rule.search, search_mode, search_options);
            rule.valid = 1;
        } catch (const Regular_Expression_Error&) {
            report_bad_pattern(i);
        }
    }
}

int length_of(std::string_view text) { return static_cast<int>(text.size()); }

void log_rule_error(const char* what, const std::exception& e, std::size_t index, std::string_view uri) {
    const std::string_view message = message_of(e), type = type_name_of(e);
    error_log->printf("error %s %.*s (%.*s) %d \"%.*s\"\r\n", what, length_of(message), message.data(),
                      length_of(type), type.data(), static_cast<int>(index), length_of(uri), uri.data());
}

}  // namespace

std::shared_ptr<Rule_List> current_rules() {
    std::lock_guard lock(rules_pointer_lock);
    return rules;
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

void load_settings() {
    std::string text;
    if (const auto code = win32::read_whole_file(settings_name, text))
        throw File_Exception(std::string(settings_name) + ": " + file_error_text(code));
    load_settings_text(text);
}

void load_settings_text(std::string_view text) {
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
    compile(*fresh);
    // The proxy's keys of the same text; a bad value leaves the rules as they were.
    load_proxy_settings(text);
    std::lock_guard lock(rules_pointer_lock);
    rules.swap(fresh);
}

std::string apply_rules(std::string_view uri, std::string html) {
    std::lock_guard lock(rule_lock);
    const auto list = current_rules();
    for (std::size_t i = 0; i < list->size(); ++i) {
        Rule& rule = (*list)[i];
        if (!rule.valid) continue;

        bool hit;
        try {
            hit = rule.uri_pattern->matches_whole(uri);
        } catch (const std::exception& e) {
            log_rule_error("URI", e, i, uri);
            rule.uri_pattern = std::make_unique<Regular_Expression>(rule.uri, uri_mode, uri_options);
            hit = rule.uri_pattern->matches_whole(uri);
            error_log->printf("reconstructed.\r\n");
        }
        if (!hit) continue;

        window_log->printf("** Hit %d rule. **\n", static_cast<int>(i));
        try {
            html = rule.search_pattern->replace_all(html, rule.replace);
        } catch (const std::exception& e) {
            log_rule_error("HTML", e, i, uri);
            rule.search_pattern = std::make_unique<Regular_Expression>(rule.search, search_mode, search_options);
            html = rule.search_pattern->replace_all(html, rule.replace);
            error_log->printf("reconstructed.\r\n");
        }
    }
    return html;
}
