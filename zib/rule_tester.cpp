#include "zib/rule_tester.hpp"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <map>

#include "base/exception.hpp"
#include "base/streams.hpp"
#include "win32/file.hpp"
#include "zib/rule_set.hpp"

namespace zib {

using base::error_log;
using base::File_Stream;
using base::message_of;
using base::type_name_of;
using base::window_log;

namespace {

constexpr const char* usage = "usage: brindlemoor --test URI FILE [-o OUT]\n";

struct Options {
    std::string uri, input, output;
    bool has_output = false;
};

bool parse(const std::vector<std::string>& arguments, Options& options) {
    std::vector<std::string> positional;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "-o") {
            if (options.has_output || i + 1 == arguments.size()) return false;
            options.output = arguments[++i];
            options.has_output = true;
        } else {
            positional.push_back(arguments[i]);
        }
    }
    if (positional.size() != 2) return false;
    options.uri = positional[0];
    options.input = positional[1];
    return true;
}

// A log stream that shows its lines with the report (error lines end in
// "\r\n" for error.log; a terminal wants "\n").
class Report_Stream : public File_Stream {
public:
    explicit Report_Stream(const Tester_Streams& streams) : streams_(streams) {}
    void write_string(std::string_view text) override {
        std::string line(text);
        for (std::size_t at; (at = line.find("\r\n")) != std::string::npos;) line.erase(at, 1);
        streams_.report(line);
    }

private:
    const Tester_Streams& streams_;
};

// The log window is not shown: the report's table says which rules hit.
class Quiet_Stream : public File_Stream {
public:
    void write_string(std::string_view) override {}
};

// Puts the tester's streams in place of the program's logs for its run.
class Logs_Swapped {
public:
    Logs_Swapped(File_Stream* window, File_Stream* error) : window_(window_log), error_(error_log) {
        window_log = window;
        error_log = error;
    }
    ~Logs_Swapped() {
        window_log = window_;
        error_log = error_;
    }

private:
    File_Stream* window_;
    File_Stream* error_;
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, arguments);
    va_end(arguments);
    return buffer;
}

const char* plural(std::size_t count, const char* one, const char* more) { return count == 1 ? one : more; }

double milliseconds(std::chrono::nanoseconds time) { return std::chrono::duration<double, std::milli>(time).count(); }

std::string row(const std::string& rule, const std::string& uri, const std::string& hits, const std::string& steps,
                const std::string& time, const std::string& note) {
    return format("%5s  %-3s  %6s  %11s  %9s%s%s\n", rule.c_str(), uri.c_str(), hits.c_str(), steps.c_str(),
                  time.c_str(), note.empty() ? "" : "  ", note.c_str());
}

std::string rule_line(const Rule& rule, std::size_t index, const Rule_Outcome* outcome) {
    const std::string number = std::to_string(index);
    if (!rule.valid || !outcome) return row(number, "-", "-", "-", "-", "bad pattern, skipped");
    const std::string time = format("%.3f", milliseconds(outcome->time));
    const std::string note = outcome->error.empty() ? "" : "gave up: " + outcome->error;
    if (!outcome->uri_matched) return row(number, "no", "-", "-", time, note);
    if (!outcome->error.empty()) return row(number, "yes", "-", std::to_string(outcome->steps), time, note);
    return row(number, "yes", std::to_string(outcome->replaced), std::to_string(outcome->steps), time, "");
}

}  // namespace

bool asks_for_rule_tester(const std::vector<std::string>& arguments) {
    return !arguments.empty() && arguments[0] == "--test";
}

int run_rule_tester(const std::vector<std::string>& arguments, const Tester_Streams& streams) {
    Options options;
    if (!parse(arguments, options)) {
        streams.report(usage);
        return 2;
    }
    Quiet_Stream quiet;
    Report_Stream errors(streams);
    Logs_Swapped swapped(&quiet, &errors);

    std::string page;
    if (const auto code = win32::read_whole_file(options.input, page)) {
        streams.report(options.input + ": " + file_error_text(code) + "\n");
        return 2;
    }
    std::size_t bad = 0;
    try {
        load_settings([&](const Bad_Pattern& pattern) {
            streams.report(bad_pattern_text(pattern) + "\n");
            ++bad;
        });
    } catch (const std::exception& e) {
        // As the program's message box would show it.
        streams.report(std::string(type_name_of(e)) + ": " + std::string(message_of(e)) + "\n");
        return 2;
    }

    // The rules run first: error lines they write come before the table.
    const auto list = current_rules();
    std::map<std::size_t, Rule_Outcome> outcomes;
    const auto start = std::chrono::steady_clock::now();
    std::string filtered = apply_rules_observed(
        options.uri, page, [&](const Rule_Outcome& outcome) { outcomes[outcome.index] = outcome; });
    const auto time = std::chrono::steady_clock::now() - start;
    const std::string count = std::to_string(list->size());
    streams.report(count + plural(list->size(), " rule", " rules") + " of setting.yaml on " + options.input + " (" +
                   std::to_string(page.size()) + " bytes) for " + options.uri + "\n");
    streams.report(row("rule", "URI", "hits", "steps", "ms", ""));
    std::size_t matched = 0, hits = 0;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const auto found = outcomes.find(i);
        const Rule_Outcome* outcome = found == outcomes.end() ? nullptr : &found->second;
        streams.report(rule_line((*list)[i], i, outcome));
        if (outcome && outcome->uri_matched) {
            ++matched;
            hits += outcome->replaced;
        }
    }
    streams.report(std::to_string(matched) + plural(matched, " rule matched", " rules matched") + " the URI, " +
                   std::to_string(hits) + plural(hits, " hit", " hits") + "; " + std::to_string(page.size()) +
                   " bytes in, " + std::to_string(filtered.size()) + " bytes out, " +
                   format("%.3f", milliseconds(time)) + " ms\n");

    if (options.has_output) {
        win32::File out;
        if (const auto code = out.create(options.output)) {
            streams.report(options.output + ": " + file_error_text(code) + "\n");
            return 2;
        }
        if (out.write(filtered) != filtered.size()) {
            streams.report(options.output + ": write failed\n");
            return 2;
        }
    } else if (!streams.page(filtered)) {
        streams.report("the page could not be written to standard output\n");
        return 2;
    }
    return bad ? 1 : 0;
}

}  // namespace zib
