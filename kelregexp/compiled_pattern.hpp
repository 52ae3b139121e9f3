#pragma once
// A compiled pattern: a graph of nodes in flat arrays, plus what the search
// needs to skip positions where no match can start.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "kelregexp/encoding.hpp"

namespace kelregexp {

enum class Op : std::uint8_t {
    byte_set,       // one byte out of a set (modes N and A: literals, ranges, classes, `.`)
    chars,          // one character of a multi-byte or 16-bit mode: members, `.`, negated class
    start_anchor,   // `^` `%`
    end_anchor,     // `$`
    word_start,     // `<`
    word_end,       // `>`
    alternation,    // next = first branch
    look_negative,  // the look-ahead's sub-pattern must fail
    look_positive,  // the look-ahead's sub-pattern must match
    repetition,     // repeat = variant
    capture_start,
    capture_end,
};

enum class Repeat : std::uint8_t {
    star,
    star_possessive,
    star_lazy,
    plus,
    plus_possessive,
    plus_lazy,
    optional,
    optional_possessive,
    optional_lazy,
};

// Node flags.
constexpr std::uint8_t flag_multiline = 0x01;  // anchors, `.` and negated classes under M
constexpr std::uint8_t flag_negated = 0x02;    // chars: a negated class
constexpr std::uint8_t flag_any = 0x04;        // chars: `.`
constexpr std::uint8_t flag_simple = 0x08;     // repetition whose body is one byte_set node

// What a node refers to besides its continuation, by opcode: exactly one of
// the members of its union is in use, the one named after its op (both
// look-aheads use `look`; anchors and word boundaries use none).
struct Node {
    struct Byte_Set_Fields {
        std::int32_t set;  // index into Compiled_Pattern::sets
    };
    struct Chars_Fields {
        std::int32_t first_member;  // index into Compiled_Pattern::members
        std::int32_t member_count;
    };
    struct Alternation_Fields {
        std::int32_t second;  // the second branch (the first is `next`)
    };
    struct Look_Fields {
        std::int32_t body;  // the sub-pattern looked ahead at
    };
    struct Repetition_Fields {
        std::int32_t body;
        // Simple repetitions only: the byte set a continuation can start
        // with, an index into Compiled_Pattern::sets (-1: any byte).
        std::int32_t continuation_set;
    };
    struct Capture_Start_Fields {
        std::int32_t slot;  // the record of where the capture starts
    };
    struct Capture_End_Fields {
        std::int32_t slot;  // the record its capture_start writes
        std::int32_t number;
    };

    Op op;
    std::uint8_t mode;
    std::uint8_t flags = 0;
    Repeat repeat = Repeat::star;
    std::int32_t next = -1;  // the continuation; -1 ends the sub-match
    union {
        Byte_Set_Fields byte_set;
        Chars_Fields chars;
        Alternation_Fields alternation;
        Look_Fields look;
        Repetition_Fields repetition;
        Capture_Start_Fields capture_start;
        Capture_End_Fields capture_end = {-1, -1};
    };
};

// One member of a `chars` node: a literal (low only) or a range.
struct Member {
    Char_Value low;
    Char_Value high;
    Comparison comparison;
    bool range;
    DWORD flags;
};

struct Byte_Set {
    std::array<bool, 256> has{};
    bool all() const {
        for (bool b : has)
            if (!b) return false;
        return true;
    }
};

// What any match must begin with, byte by byte, so that the search can skip
// positions quickly. Offsets whose set is `unconstrained` accept anything.
struct Start_Filter {
    static constexpr int depth = 6;
    bool any = true;  // no constraint at all: every position is tried
    std::array<Byte_Set, depth> sets;
    std::array<bool, depth> unconstrained{true, true, true, true, true, true};
    // The scan looks for the bytes of one or two offsets whose sets are
    // rare in web pages; the other offsets are checked at each position found.
    // A small set is looked for byte by byte; a larger one through its nibble
    // tables: byte b is in the set when bit (b >> 4) & 7 of
    // low[b >> 7][b & 15] is set.
    struct Probe {
        int offset = 0;
        int size = 0;                          // bytes in the set; 0: no probe
        std::array<unsigned char, 4> bytes{};  // the set, when it has at most four bytes
        std::array<std::array<unsigned char, 16>, 2> low{};
        bool small() const { return size <= 4; }
    };
    std::array<Probe, 2> probes;
    // The first probe's bytes are rare enough for memchr, byte by byte.
    bool use_memchr = false;
};

struct Compiled_Pattern {
    std::int32_t root = -1;  // -1: the pattern compiled to nothing
    std::uint8_t mode = mode_a;
    std::uint8_t options = 0;
    std::vector<Node> nodes;
    std::vector<Byte_Set> sets;
    std::vector<Member> members;
    std::int32_t record_count = 0;
    Start_Filter filter;

    void release() {
        root = -1;
        nodes = {};
        sets = {};
        members = {};
        record_count = 0;
        filter = {};
    }
};

// Deepest nesting of groups, look-aheads and escapes the compiler accepts;
// deeper patterns fail to compile instead of exhausting the stack.
constexpr int max_nesting = 100;

// Why a pattern did not compile: the byte offset in the pattern where the
// fault lies (for an unclosed group or class, its opening bracket) and a short
// reason, a static text.
struct Compile_Error {
    std::size_t position = 0;
    const char* reason = nullptr;
};

// Builds the pattern; false (and `out` released) when it does not compile,
// with `error` (if given) saying where and why.
bool compile(std::string_view pattern, int mode, int options, Compiled_Pattern& out, Compile_Error* error = nullptr);

}  // namespace kelregexp
