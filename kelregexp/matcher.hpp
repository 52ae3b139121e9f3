#pragma once
// Runs a compiled pattern against a text: at one position, or as a leftmost
// search. Backtracking uses explicit stacks, never the call stack, so the
// length of the text does not matter.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kelregexp/compiled_pattern.hpp"

namespace kelregexp {

// Called when a capture's end is reached and the rest of its sub-match has succeeded.
using Capture_Callback = void (*)(std::int32_t number, const char* start, const char* end, void* context);

struct Match_State {
    const char* begin = nullptr;
    const char* end = nullptr;
    Capture_Callback callback = nullptr;
    void* context = nullptr;
};

class Matcher {
public:
    // True if the pattern matches at `position`, which then holds the match
    // end; on failure `position` is unchanged.
    bool match_at(const Compiled_Pattern& pattern, const Match_State& state, const char*& position);

    // The leftmost match starting at or after `from` and before the text end,
    // stepping by the pattern's encoding mode.
    bool search(const Compiled_Pattern& pattern, const Match_State& state, const char* from, const char*& match_start,
                const char*& match_end);

private:
    struct Choice {
        std::int32_t kind;
        std::int32_t node;
        const unsigned char* position;
        const unsigned char* low;
    };
    // A sub-match in progress: the whole pattern, one pass of a repetition
    // body, or a look-ahead. It ends at its first success; everything it
    // could still retry is then dropped.
    struct Frame {
        std::int32_t node;  // -1: the whole pattern
        std::int32_t first_pass;
        std::size_t choice_base;
        std::size_t report_base;
        const unsigned char* start;
    };
    struct Report {
        std::int32_t node;
        const unsigned char* end;
    };

    bool run(const Compiled_Pattern& pattern, const Match_State& state, const unsigned char*& position);

    std::vector<Choice> choices_;
    std::vector<Frame> frames_;
    std::vector<Report> reports_;
    std::vector<const unsigned char*> records_;
};

}  // namespace kelregexp
