#pragma once
// A compiled pattern with whole-text matching, leftmost search, split,
// find-all and replace. One object must be used by one thread at a time
// (matching writes into it); separate objects are independent.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kelregexp/compiled_pattern.hpp"
#include "kelregexp/matcher.hpp"
#include "kelregexp/regular_expression_error.hpp"

class Regular_Expression {
public:
    // Capture number -> captured part of the text (a view into it). A number
    // that is looked up but absent reads as empty.
    using Captures = std::map<std::int32_t, std::string_view>;
    using Match_State = kelregexp::Match_State;

    // Raises Regular_Expression_Error when the pattern does not compile.
    Regular_Expression(std::string_view pattern, int encoding_mode, int options);
    Regular_Expression(const Regular_Expression&) = delete;
    Regular_Expression& operator=(const Regular_Expression&) = delete;
    virtual ~Regular_Expression();

    // True if the pattern matches at `position`, which then holds the match end.
    virtual bool match_at(Match_State state, const char*& position);
    virtual signed char encoding_mode() const;
    virtual signed char options() const;
    // True if the first match found from the text start ends at the text end.
    virtual bool matches_whole(std::string_view text);
    // Start index of the leftmost match, or -1.
    virtual std::ptrdiff_t find(std::string_view text);
    // Leftmost match at or after `start` (never at the text end itself);
    // both indices -1 when there is none.
    virtual bool search(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                        std::ptrdiff_t& match_end);
    virtual std::ptrdiff_t find_with_captures(std::string_view text, Captures& captures);
    virtual bool search_with_captures(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                                      std::ptrdiff_t& match_end, Captures& captures);
    // The pieces between matches: n matches give n + 1 pieces.
    virtual std::vector<std::string_view> split(std::string_view text);
    virtual std::vector<std::string_view> find_all(std::string_view text);
    // Every match replaced by the expanded template.
    virtual std::string replace_all(std::string_view text, std::string_view template_text);
    // `$`` prefix, `$&` match, `$'` suffix, `$0`-`$9` captures; any other
    // `$x` is copied as is, and so is a `$` at the very end.
    virtual std::string expand_template(std::string_view template_text, std::string_view prefix, std::string_view match,
                                        std::string_view suffix, Captures& captures);
    // The next character by the encoding mode (not limited to the text end).
    virtual const char* next_position(const char* position) const;

private:
    kelregexp::Compiled_Pattern pattern_;
    kelregexp::Matcher matcher_;

    // Where the loops of split, find_all and replace_all go on after a match
    // ending at `match_end`: one character further when the match was empty.
    std::ptrdiff_t resume_index(std::string_view text, std::ptrdiff_t match_start, std::ptrdiff_t match_end) const;
};
