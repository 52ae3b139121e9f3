// Pattern, mode, options and text from the input: compiling and every
// operation must neither crash nor hang, and the operations must agree. A
// compile error points into the pattern; a match may only give up at its budget.
// Input: mode byte, options byte, pattern length byte, pattern, text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kelregexp/regular_expression.hpp"

using kelregexp::Match_Budget_Error;
using kelregexp::Regular_Expression;
using kelregexp::Regular_Expression_Error;

namespace {

// Every operation ends within the step budget of its text, however much the
// pattern backtracks, so patterns may be long. (An input that uses the budget
// up costs about a second under the fuzzer's instrumentation: the seed corpus
// holds none, or the fuzzer would spend its time on their variants.)
constexpr std::size_t max_pattern = 120;
constexpr std::size_t max_text = 600;

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::string_view pattern = input.substr(0, data[2] % (max_pattern + 1));
    // A copy of exactly the text's size, so that reading past it is caught.
    const std::string text(input.substr(pattern.size(), max_text));
    try {
        Regular_Expression re(pattern, data[0] % kelregexp::mode_count, data[1]);
        re.matches_whole(text);
        Regular_Expression::Captures captures;
        check(re.find_with_captures(text, captures) == re.find(text));
        for (const auto& capture : captures)
            check(capture.second.data() >= text.data() &&
                  capture.second.data() + capture.second.size() <= text.data() + text.size());
        // The pieces of split and the matches of find_all interleave to the text.
        const auto pieces = re.split(text), matches = re.find_all(text);
        check(pieces.size() == matches.size() + 1);
        std::string joined;
        for (std::size_t i = 0; i < matches.size(); ++i) joined.append(pieces[i]).append(matches[i]);
        check(joined.append(pieces.back()) == text && re.replace_all(text, "$&") == text);
        re.replace_all(text, "[$1$`$'$9$x$");
    } catch (const Regular_Expression_Error& e) {
        check(e.position() <= pattern.size() && !e.reason().empty());
    } catch (const Match_Budget_Error& e) {
        check(e.budget() == kelregexp::step_budget(text.size()));
    }
    return 0;
}
