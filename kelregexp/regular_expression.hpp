#pragma once
// A compiled pattern with whole-text matching, leftmost search, split,
// find-all and replace. A compiled object is never changed by matching: any
// number of threads may use one object at once (each call keeps its match
// state on its own thread).
//
// Every operation on a text runs on a budget of steps proportional to the
// text's size (step_budget); an operation that exhausts it raises
// Match_Budget_Error instead of running on for hours. Results of operations
// that stay within it do not depend on it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kelregexp/compiled_pattern.hpp"
#include "kelregexp/matcher.hpp"
#include "kelregexp/regular_expression_error.hpp"

namespace kelregexp {

class Regular_Expression {
public:
    // Capture number -> captured part of the text (a view into it). A number
    // that is looked up but absent reads as empty.
    using Captures = std::map<std::int32_t, std::string_view>;
    using Match_State = kelregexp::Match_State;

    // Raises Regular_Expression_Error, with the position and the reason,
    // when the pattern does not compile.
    Regular_Expression(std::string_view pattern, int encoding_mode, int options);
    Regular_Expression(const Regular_Expression&) = delete;
    Regular_Expression& operator=(const Regular_Expression&) = delete;
    virtual ~Regular_Expression();

    // True if the pattern matches at `position`, which then holds the match
    // end. The budget is that of the text from state.begin to state.end.
    virtual bool match_at(Match_State state, const char*& position) const;
    virtual signed char encoding_mode() const;
    virtual signed char options() const;
    // True if the first match found from the text start ends at the text end.
    virtual bool matches_whole(std::string_view text) const;
    // Start index of the leftmost match, or -1.
    virtual std::ptrdiff_t find(std::string_view text) const;
    // Leftmost match at or after `start` (never at the text end itself);
    // both indices -1 when there is none.
    virtual bool search(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                        std::ptrdiff_t& match_end) const;
    virtual std::ptrdiff_t find_with_captures(std::string_view text, Captures& captures) const;
    virtual bool search_with_captures(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                                      std::ptrdiff_t& match_end, Captures& captures) const;
    // The pieces between matches: n matches give n + 1 pieces.
    virtual std::vector<std::string_view> split(std::string_view text) const;
    virtual std::vector<std::string_view> find_all(std::string_view text) const;
    // Every match replaced by the expanded template; one budget for the whole text.
    virtual std::string replace_all(std::string_view text, std::string_view template_text) const;
    // What one replace_all did: the matches replaced and the steps taken
    // (out of step_budget of the text's size).
    struct Replace_Stats {
        std::size_t replaced = 0;
        std::int64_t steps = 0;
    };
    std::string replace_all(std::string_view text, std::string_view template_text, Replace_Stats& stats) const;
    // The same into `out`, whose storage is reused (it must not hold `text`).
    // False, with `out` empty, when nothing matched: the text is the result.
    bool replace_all_into(std::string_view text, std::string_view template_text, std::string& out,
                          Replace_Stats& stats) const;
    // `$`` prefix, `$&` match, `$'` suffix, `$0`-`$9` captures; any other
    // `$x` is copied as is, and so is a `$` at the very end.
    virtual std::string expand_template(std::string_view template_text, std::string_view prefix, std::string_view match,
                                        std::string_view suffix, Captures& captures) const;
    // The next character by the encoding mode (not limited to the text end).
    virtual const char* next_position(const char* position) const;

private:
    Compiled_Pattern pattern_;

    // One search within an operation whose budget `matcher` holds, reporting
    // captures to `callback` if given; false also when the budget runs out
    // (the caller checks and raises).
    bool search_in(Matcher& matcher, std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                   std::ptrdiff_t& match_end, Capture_Callback callback, void* context) const;
    // Where the loops of split, find_all and replace_all go on after a match
    // ending at `match_end`: one character further when the match was empty.
    std::ptrdiff_t resume_index(std::string_view text, std::ptrdiff_t match_start, std::ptrdiff_t match_end) const;
};

}  // namespace kelregexp
