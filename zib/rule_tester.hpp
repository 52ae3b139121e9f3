#pragma once
// The rule tester: `brindlemoor --test URI FILE [-o OUT]` loads setting.yaml
// from the current directory as the program does, runs its rules over the
// page in FILE as the proxy would for an HTML answer from URI, and reports
// what each rule did. No port is opened and no other copy of the program is
// looked for, so it runs beside the proxy.
//
// Report (for the user, line by line): any bad patterns with their two-line
// message; the lines error.log would get while the rules run; then one line
// per rule (whether its URI pattern matches, its hits, steps and time, and why
// it gave up if it did) and the totals. The filtered page goes to OUT, or to
// the page stream.
//
// Exit status: 0 when the settings are valid (whatever the rules did);
// 1 when a pattern does not compile (the other rules still run); 2 when
// nothing could be tested: bad arguments, settings or page that cannot be
// read, or an output that cannot be written.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zib {

struct Tester_Streams {
    std::function<bool(std::string_view)> report;
    std::function<bool(std::string_view)> page;
};

// True when the program's arguments (after its name) ask for the tester.
bool asks_for_rule_tester(const std::vector<std::string>& arguments);

// Runs the tester on the program's arguments; returns the exit status.
int run_rule_tester(const std::vector<std::string>& arguments, const Tester_Streams& streams);

}  // namespace zib
