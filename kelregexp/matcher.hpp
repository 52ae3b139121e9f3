#pragma once
// Runs a compiled pattern against a text: at one position, or as a leftmost
// search. Backtracking uses explicit stacks, never the call stack, so the
// length of the text does not matter.
//
// A Matcher is the state of the matches in progress on one thread: the
// compiled pattern is only read, so one pattern serves any number of threads
// at once, each with a Matcher of its own (see Matcher_Lease).
//
// Every match runs on a budget of steps: one per node tried, per way taken
// back, and per byte that a one-byte repetition passes over. A match that
// uses it up gives up (`exhausted`), so no pattern can make a text take
// longer than its budget allows, however much it backtracks.

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

// The steps a whole operation on a text of `size` bytes may take (one
// application of a rule to a page, one URI test). Ordinary patterns take a
// few steps per byte; the base covers short texts such as URIs.
constexpr std::int64_t step_budget_base = 10'000'000;
constexpr std::int64_t step_budget_per_byte = 1'000;
constexpr std::int64_t step_budget(std::size_t size) {
    return step_budget_base + step_budget_per_byte * static_cast<std::int64_t>(size);
}

class Matcher {
public:
    // Starts a new budget: the steps every later call may take together.
    void set_budget(std::int64_t steps) {
        steps_left_ = steps;
        exhausted_ = false;
    }
    // True when a call gave up because the budget ran out; its result was
    // then "no match" and must not be taken as one.
    bool exhausted() const { return exhausted_; }
    // What is left of the budget (0 once exhausted).
    std::int64_t steps_left() const { return steps_left_; }

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
    std::int64_t steps_left_ = step_budget(0);
    bool exhausted_ = false;
};

// The calling thread's Matcher for the length of one operation, reused from
// call to call so that matching allocates nothing once its stacks have
// grown. A capture callback that starts another match on the same thread
// gets a Matcher of its own.
class Matcher_Lease {
public:
    Matcher_Lease();
    Matcher_Lease(const Matcher_Lease&) = delete;
    Matcher_Lease& operator=(const Matcher_Lease&) = delete;
    ~Matcher_Lease();

    Matcher& operator*() const { return *matcher_; }
    Matcher* operator->() const { return matcher_; }

private:
    Matcher* matcher_;
    bool owned_;
};

}  // namespace kelregexp
