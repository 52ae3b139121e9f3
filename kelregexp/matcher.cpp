#include "kelregexp/matcher.hpp"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

namespace kelregexp {

namespace {

using Byte = unsigned char;

enum Choice_Kind : std::int32_t {
    resume,        // go on at (node, position)
    pop_report,    // a capture end is given back
    lazy_pass,     // a lazy repetition takes one more pass from position
    lazy_bytes,    // a simple lazy repetition takes one more byte from position
    greedy_bytes,  // a simple greedy repetition gives back bytes below position, down to low
};

bool is_word(unsigned c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool is_line_break(unsigned c) { return c == '\r' || c == '\n'; }

bool line_break_at(int mode, const Byte* p, const Byte* end) {
    if (is_sixteen_bit(mode)) return end - p >= 2 && is_line_break(read_unit(mode, p));
    return p < end && is_line_break(*p);
}

bool line_break_before(int mode, const Byte* p, const Byte* begin) {
    if (is_sixteen_bit(mode)) return p - begin >= 2 && is_line_break(read_unit(mode, p - 2));
    return p > begin && is_line_break(p[-1]);
}

bool word_at(int mode, const Byte* p, const Byte* end) {
    if (is_sixteen_bit(mode)) return end - p >= 2 && is_word(read_unit(mode, p));
    return p < end && is_word(*p);
}

bool word_before(int mode, const Byte* p, const Byte* begin, bool for_word_end) {
    if (p == begin) return false;
    if (is_sixteen_bit(mode)) return p - begin >= 2 && is_word(read_unit(mode, p - 2));
    if (mode == mode_l) {
        // An odd run of lead bytes before it makes the byte a trail byte.
        int leads = 0;
        for (const Byte* q = p - 1; q > begin && is_lead_byte(q[-1]); --q) ++leads;
        if (leads % 2 == 1) return false;
        if (for_word_end && is_lead_byte(p[-1])) return false;
    }
    return is_word(p[-1]);
}

bool member_matches(const Compiled_Pattern& pattern, const Node& node, Char_Value text) {
    const Member* m = pattern.members.data() + node.chars.first_member;
    for (std::int32_t i = 0; i < node.chars.member_count; ++i, ++m) {
        int low = compare_chars(node.mode, m->comparison, text, m->low, m->flags);
        if (!m->range) {
            if (low == 0) return true;
        } else if (low >= 0 && compare_chars(node.mode, m->comparison, text, m->high, m->flags) <= 0) {
            return true;
        }
    }
    return false;
}

// One character of a multi-byte or 16-bit mode; null when it does not match.
const Byte* step_chars(const Compiled_Pattern& pattern, const Node& node, const Byte* p, const Byte* end) {
    int mode = node.mode;
    if (node.flags & (flag_any | flag_negated)) {
        if (node.flags & flag_negated) {
            Char_Value value;
            if (read_text_char(mode, p, end, value) && member_matches(pattern, node, value)) return nullptr;
        }
        if ((node.flags & flag_multiline) && line_break_at(mode, p, end)) return nullptr;
        if (is_sixteen_bit(mode)) return end - p >= 2 ? p + 2 : nullptr;
        if (p >= end) return nullptr;
        int length = character_length(mode, p);
        return end - p < length ? end : p + length;
    }
    Char_Value value;
    int length = read_text_char(mode, p, end, value);
    if (length == 0 || !member_matches(pattern, node, value)) return nullptr;
    return p + length;
}

// The set a simple repetition's continuation starts with; null: any byte.
inline const bool* continuation_filter(const Byte_Set* sets, const Node& repetition) {
    std::int32_t set = repetition.repetition.continuation_set;
    return set >= 0 ? sets[set].has.data() : nullptr;
}

// Where a continuation may start: every position, or one whose byte is in the set.
bool may_continue(const bool* filter, const Byte* q, const Byte* end) { return !filter || (q < end && filter[*q]); }

bool is_plus(Repeat r) { return r == Repeat::plus || r == Repeat::plus_possessive || r == Repeat::plus_lazy; }

bool filter_accepts(const Start_Filter& filter, const Byte* q, const Byte* end) {
    for (int k = 0; k < Start_Filter::depth; ++k) {
        if (filter.unconstrained[k]) continue;
        if (end - q <= k || !filter.sets[k].has[q[k]]) return false;
    }
    return true;
}

// The probe scan with vectors, one template for each instruction set: an
// instruction set's Probe_Vectors holds one probe's set in its registers and
// gives, for the `block` bytes at a position, a bit per byte in the set.
// Returns the first position the filter accepts (`found`), or where fewer
// than `block` bytes remain to scan.
template <class Probe_Vectors>
inline const Byte* scan_blocks(const Start_Filter& filter, const Byte* q, const Byte* end, bool& found) {
    const auto& first = filter.probes[0];
    const auto& second = filter.probes[1];
    const Probe_Vectors a(first), b(second);
    const int reach = first.offset > second.offset ? first.offset : second.offset;
    while (end - q >= Probe_Vectors::block + reach) {
        unsigned mask = a.mask(q + first.offset);
        if (mask && second.size > 0) mask &= b.mask(q + second.offset);
        while (mask) {
            const Byte* c = q + __builtin_ctz(mask);
            if (filter_accepts(filter, c, end)) {
                found = true;
                return c;
            }
            mask &= mask - 1;
        }
        q += Probe_Vectors::block;
    }
    found = false;
    return q;
}

#ifdef __SSE2__
// A small set (at most four bytes) in 16-byte vectors, two per block: SSE2
// has no byte shuffle for the nibble tables.
struct Sse2_Probe_Vectors {
    static constexpr int block = 32;
    int size;
    __m128i bytes[4];

    static bool can_scan(const Start_Filter::Probe& probe) { return probe.small(); }

    explicit Sse2_Probe_Vectors(const Start_Filter::Probe& probe) : size(probe.size) {
        for (int j = 0; j < size && j < 4; ++j) bytes[j] = _mm_set1_epi8(static_cast<char>(probe.bytes[j]));
    }

    unsigned mask(const Byte* at) const { return half_mask(at) | (half_mask(at + 16) << 16); }

private:
    unsigned half_mask(const Byte* at) const {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        __m128i hits = _mm_cmpeq_epi8(chunk, bytes[0]);
        for (int j = 1; j < size; ++j) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(chunk, bytes[j]));
        return static_cast<unsigned>(_mm_movemask_epi8(hits));
    }
};

const Byte* scan_sse2(const Start_Filter& filter, const Byte* q, const Byte* end, bool& found) {
    return scan_blocks<Sse2_Probe_Vectors>(filter, q, end, found);
}
#endif

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KELREGEXP_AVX2 1
// Any set in 32-byte vectors: its bytes to compare with, or its nibble tables.
// Only processors that have AVX2 run these (the caller checks), so they are
// compiled for it whatever the build's baseline.
struct Avx2_Probe_Vectors {
    static constexpr int block = 32;
    bool small;
    int size;
    __m256i bytes[4];
    __m256i low_clear, low_set, bit_of_high;

    __attribute__((target("avx2"))) explicit Avx2_Probe_Vectors(const Start_Filter::Probe& probe)
        : small(probe.small()), size(probe.size) {
        for (int j = 0; j < size && j < 4; ++j) bytes[j] = _mm256_set1_epi8(static_cast<char>(probe.bytes[j]));
        low_clear = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(probe.low[0].data())));
        low_set = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(probe.low[1].data())));
        bit_of_high = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32,
                                       64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    }

    // Bit i set when byte i of the 32 at `at` is in the set.
    __attribute__((target("avx2"))) unsigned mask(const Byte* at) const {
        __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        if (small) {
            __m256i hits = _mm256_cmpeq_epi8(chunk, bytes[0]);
            for (int j = 1; j < size; ++j) hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(chunk, bytes[j]));
            return static_cast<unsigned>(_mm256_movemask_epi8(hits));
        }
        // Bytes below 0x80 look up low_clear, the others low_set (a shuffle
        // gives 0 where its index has the top bit); the high nibble picks the bit.
        __m256i rows = _mm256_or_si256(
            _mm256_shuffle_epi8(low_clear, chunk),
            _mm256_shuffle_epi8(low_set, _mm256_xor_si256(chunk, _mm256_set1_epi8(static_cast<char>(0x80)))));
        __m256i high = _mm256_and_si256(_mm256_srli_epi16(chunk, 4), _mm256_set1_epi8(0x0F));
        __m256i in = _mm256_and_si256(rows, _mm256_shuffle_epi8(bit_of_high, high));
        return ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(in, _mm256_setzero_si256())));
    }
};

// Flattened: the template and the vector operations are inlined into this
// AVX2 function (they cannot be inlined into a function built without it).
__attribute__((target("avx2"), flatten)) const Byte* scan_avx2(const Start_Filter& filter, const Byte* q,
                                                               const Byte* end, bool& found) {
    return scan_blocks<Avx2_Probe_Vectors>(filter, q, end, found);
}
#endif

// Finds, for a search with one-byte steps, the positions where a match may start.
class Scanner {
public:
    Scanner(const Start_Filter& filter, const Byte* end) : filter_(filter), end_(end) {}

    // The first position at or after q that the filter accepts, or the end.
    const Byte* next(const Byte* q) {
        if (filter_.use_memchr) return next_by_memchr(q);
        const auto& first = filter_.probes[0];
#ifdef KELREGEXP_AVX2
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (avx2 && first.size > 0) {
            bool found;
            q = scan_avx2(filter_, q, end_, found);
            if (found) return q;
        }
#endif
#ifdef __SSE2__
        if (first.size > 0 && Sse2_Probe_Vectors::can_scan(first) && Sse2_Probe_Vectors::can_scan(filter_.probes[1])) {
            bool found;
            q = scan_sse2(filter_, q, end_, found);
            if (found) return q;
        }
#endif
        // Byte by byte, on the probe's offset (or the first) whose set is rarest.
        const int offset = first.size > 0 ? first.offset : 0;
        const bool* in_set = filter_.sets[offset].has.data();
        for (; end_ - q > offset; ++q)
            if (in_set[q[offset]] && filter_accepts(filter_, q, end_)) return q;
        return end_;
    }

private:
    const Start_Filter& filter_;
    const Byte* end_;
    // Next occurrence of each probe byte found so far (null: not looked for yet).
    const Byte* found_[4] = {};

    const Byte* next_by_memchr(const Byte* q) {
        const auto& probe = filter_.probes[0];
        for (;;) {
            if (end_ - q <= probe.offset) return end_;
            const Byte* from = q + probe.offset;
            const Byte* hit = end_;
            for (int j = 0; j < probe.size; ++j) {
                if (!found_[j] || found_[j] < from) {
                    const void* r = std::memchr(from, probe.bytes[j], static_cast<std::size_t>(end_ - from));
                    found_[j] = r ? static_cast<const Byte*>(r) : end_;
                }
                if (found_[j] < hit) hit = found_[j];
            }
            if (hit == end_) return end_;
            const Byte* c = hit - probe.offset;
            if (filter_accepts(filter_, c, end_)) return c;
            q = c + 1;
        }
    }
};

}  // namespace

namespace {

// Each thread's own Matcher, and whether an operation is using it.
struct Thread_Matcher {
    Matcher matcher;
    bool busy = false;
};
thread_local Thread_Matcher thread_matcher;

}  // namespace

Matcher_Lease::Matcher_Lease() {
    Thread_Matcher& own = thread_matcher;
    owned_ = own.busy;
    matcher_ = owned_ ? new Matcher : &own.matcher;
    own.busy = true;
}

Matcher_Lease::~Matcher_Lease() {
    if (owned_)
        delete matcher_;
    else
        thread_matcher.busy = false;
}

bool Matcher::match_at(const Compiled_Pattern& pattern, const Match_State& state, const char*& position) {
    auto p = reinterpret_cast<const Byte*>(position);
    if (!run(pattern, state, p)) return false;
    position = reinterpret_cast<const char*>(p);
    return true;
}

bool Matcher::search(const Compiled_Pattern& pattern, const Match_State& state, const char* from,
                     const char*& match_start, const char*& match_end) {
    auto q = reinterpret_cast<const Byte*>(from);
    auto end = reinterpret_cast<const Byte*>(state.end);
    const Start_Filter& filter = pattern.filter;
    bool byte_steps = pattern.mode == mode_n || pattern.mode == mode_a;
    Scanner scanner(filter, end);
    while (q < end) {
        if (!filter.any) {
            if (byte_steps) {
                q = scanner.next(q);
                if (q == end) break;
            } else if (!filter_accepts(filter, q, end)) {
                int length = character_length(pattern.mode, q);
                q = end - q <= length ? end : q + length;
                continue;
            }
        }
        const Byte* p = q;
        if (run(pattern, state, p)) {
            match_start = reinterpret_cast<const char*>(q);
            match_end = reinterpret_cast<const char*>(p);
            return true;
        }
        if (exhausted_) return false;
        int length = character_length(pattern.mode, q);
        q = end - q <= length ? end : q + length;
    }
    return false;
}

bool Matcher::run(const Compiled_Pattern& pattern, const Match_State& state, const Byte*& position) {
    if (pattern.root < 0) return true;
    const Byte* const begin = reinterpret_cast<const Byte*>(state.begin);
    const Byte* const end = reinterpret_cast<const Byte*>(state.end);
    const Node* const nodes = pattern.nodes.data();
    const Byte_Set* const sets = pattern.sets.data();
    const bool capturing = state.callback != nullptr;
    if (records_.size() < static_cast<std::size_t>(pattern.record_count)) records_.resize(pattern.record_count);
    choices_.clear();
    frames_.clear();
    reports_.clear();
    frames_.push_back({-1, 0, 0, 0, position});

    std::int32_t n = pattern.root;
    const Byte* p = position;
    // In a local for speed; written back on every way out.
    std::int64_t steps = steps_left_;

    auto start_pass = [&](std::int32_t repetition, bool first, const Byte* from) {
        frames_.push_back({repetition, first, choices_.size(), reports_.size(), from});
    };

forward:
    while (n >= 0) {
        if (--steps < 0) goto exhausted;
        const Node& node = nodes[n];
        switch (node.op) {
            case Op::byte_set:
                if (p < end && sets[node.byte_set.set].has[*p]) {
                    ++p;
                    n = node.next;
                    continue;
                }
                goto fail;
            case Op::chars: {
                const Byte* q = step_chars(pattern, node, p, end);
                if (!q) goto fail;
                p = q;
                n = node.next;
                continue;
            }
            case Op::start_anchor:
                if (p != begin && !((node.flags & flag_multiline) && line_break_before(node.mode, p, begin))) goto fail;
                n = node.next;
                continue;
            case Op::end_anchor:
                if (p != end && !((node.flags & flag_multiline) && line_break_at(node.mode, p, end))) goto fail;
                n = node.next;
                continue;
            case Op::word_start:
                if (word_before(node.mode, p, begin, false) || !word_at(node.mode, p, end)) goto fail;
                n = node.next;
                continue;
            case Op::word_end:
                if (word_at(node.mode, p, end) || !word_before(node.mode, p, begin, true)) goto fail;
                n = node.next;
                continue;
            case Op::alternation:
                choices_.push_back({resume, node.alternation.second, p, nullptr});
                n = node.next;
                continue;
            case Op::look_negative:
            case Op::look_positive:
                start_pass(n, false, p);
                n = node.look.body;
                continue;
            case Op::capture_start:
                if (capturing) records_[node.capture_start.slot] = p;
                n = node.next;
                continue;
            case Op::capture_end:
                if (capturing) {
                    reports_.push_back({n, p});
                    choices_.push_back({pop_report, n, p, nullptr});
                }
                n = node.next;
                continue;
            case Op::repetition:
                if (node.flags & flag_simple) {
                    // One byte per pass: passes are a scan, and the
                    // continuation is tried only where it can start.
                    const bool* body = sets[nodes[node.repetition.body].byte_set.set].has.data();
                    const bool* filter = continuation_filter(sets, node);
                    const Byte* low = p;
                    if (is_plus(node.repeat)) {
                        if (!(p < end && body[*p])) goto fail;
                        low = p + 1;
                    }
                    const Byte* q = low;
                    if (node.repeat == Repeat::star_lazy || node.repeat == Repeat::plus_lazy) {
                        while (!may_continue(filter, q, end)) {
                            if (!(q < end && body[*q])) goto fail;
                            ++q;
                        }
                        steps -= q - low;
                        choices_.push_back({lazy_bytes, n, q, nullptr});
                        p = q;
                        n = node.next;
                        continue;
                    }
                    while (q < end && body[*q]) ++q;
                    steps -= q - low;
                    if (node.repeat == Repeat::star_possessive || node.repeat == Repeat::plus_possessive) {
                        p = q;
                        n = node.next;
                        continue;
                    }
                    while (!may_continue(filter, q, end)) {
                        if (q == low) goto fail;
                        --q;
                    }
                    if (q > low) choices_.push_back({greedy_bytes, n, q, low});
                    p = q;
                    n = node.next;
                    continue;
                }
                switch (node.repeat) {
                    case Repeat::star:
                        choices_.push_back({resume, node.next, p, nullptr});
                        start_pass(n, false, p);
                        n = node.repetition.body;
                        continue;
                    case Repeat::plus:
                    case Repeat::plus_possessive:
                    case Repeat::plus_lazy:
                        start_pass(n, true, p);
                        n = node.repetition.body;
                        continue;
                    case Repeat::star_lazy:
                    case Repeat::optional_lazy:
                        choices_.push_back({lazy_pass, n, p, nullptr});
                        n = node.next;
                        continue;
                    default:  // star_possessive, optional, optional_possessive
                        start_pass(n, false, p);
                        n = node.repetition.body;
                        continue;
                }
        }
    }

    // The innermost sub-match has succeeded at p: its captures are reported
    // (innermost first) and its remaining ways are dropped.
    {
        Frame frame = frames_.back();
        frames_.pop_back();
        for (std::size_t i = reports_.size(); i > frame.report_base; --i) {
            const Report& r = reports_[i - 1];
            const Node& end_node = nodes[r.node];
            state.callback(end_node.capture_end.number,
                           reinterpret_cast<const char*>(records_[end_node.capture_end.slot]),
                           reinterpret_cast<const char*>(r.end), state.context);
        }
        reports_.resize(frame.report_base);
        choices_.resize(frame.choice_base);
        if (frame.node < 0) {
            position = p;
            steps_left_ = steps;
            return true;
        }
        const Node& owner = nodes[frame.node];
        if (owner.op == Op::look_positive) {
            p = frame.start;
            n = owner.next;
            goto forward;
        }
        if (owner.op == Op::look_negative) goto fail;
        // A pass that consumed nothing would repeat itself forever: it ends the repetition.
        bool empty = p == frame.start;
        switch (owner.repeat) {
            case Repeat::star:
            case Repeat::plus:
                if (frame.first_pass) choices_.push_back({resume, owner.next, p, nullptr});
                if (empty) goto fail;
                if (!frame.first_pass) choices_.push_back({resume, owner.next, p, nullptr});
                start_pass(frame.node, false, p);
                n = owner.repetition.body;
                goto forward;
            case Repeat::star_possessive:
            case Repeat::plus_possessive:
                if (empty) {
                    n = owner.next;
                    goto forward;
                }
                start_pass(frame.node, false, p);
                n = owner.repetition.body;
                goto forward;
            case Repeat::star_lazy:
            case Repeat::plus_lazy:
                if (empty && !frame.first_pass) goto fail;
                choices_.push_back({lazy_pass, frame.node, p, nullptr});
                n = owner.next;
                goto forward;
            case Repeat::optional:
                if (!empty) choices_.push_back({resume, owner.next, frame.start, nullptr});
                n = owner.next;
                goto forward;
            case Repeat::optional_possessive: n = owner.next; goto forward;
            case Repeat::optional_lazy:
                if (empty) goto fail;
                n = owner.next;
                goto forward;
        }
    }

fail:
    for (;;) {
        if (--steps < 0) goto exhausted;
        Frame& frame = frames_.back();
        if (choices_.size() > frame.choice_base) {
            Choice c = choices_.back();
            choices_.pop_back();
            switch (c.kind) {
                case resume:
                    n = c.node;
                    p = c.position;
                    goto forward;
                case pop_report: reports_.pop_back(); continue;
                case lazy_pass:
                    start_pass(c.node, false, c.position);
                    n = nodes[c.node].repetition.body;
                    p = c.position;
                    goto forward;
                case lazy_bytes: {
                    const Node& node = nodes[c.node];
                    const bool* body = sets[nodes[node.repetition.body].byte_set.set].has.data();
                    const bool* filter = continuation_filter(sets, node);
                    const Byte* q = c.position;
                    do {
                        if (!(q < end && body[*q])) goto next_choice;
                        ++q;
                    } while (!may_continue(filter, q, end));
                    steps -= q - c.position;
                    choices_.push_back({lazy_bytes, c.node, q, nullptr});
                    p = q;
                    n = node.next;
                    goto forward;
                }
                case greedy_bytes: {
                    const Node& node = nodes[c.node];
                    const bool* filter = continuation_filter(sets, node);
                    const Byte* q = c.position;
                    do {
                        if (q == c.low) goto next_choice;
                        --q;
                    } while (!may_continue(filter, q, end));
                    steps -= c.position - q;
                    if (q > c.low) choices_.push_back({greedy_bytes, c.node, q, c.low});
                    p = q;
                    n = node.next;
                    goto forward;
                }
            }
        next_choice:
            continue;
        }
        // The innermost sub-match has no way left.
        Frame dead = frame;
        frames_.pop_back();
        if (dead.node < 0) {
            steps_left_ = steps;
            return false;
        }
        const Node& owner = nodes[dead.node];
        p = dead.start;
        if (owner.op == Op::look_positive) continue;
        if (owner.op == Op::look_negative) {
            n = owner.next;
            goto forward;
        }
        switch (owner.repeat) {
            case Repeat::star_possessive:
            case Repeat::plus_possessive:
                if (dead.first_pass) continue;
                n = owner.next;
                goto forward;
            case Repeat::optional:
            case Repeat::optional_possessive: n = owner.next; goto forward;
            default:
                // Greedy: the choices pushed for the passes are tried next;
                // lazy and the first pass of `+`: the repetition fails.
                continue;
        }
    }

exhausted:
    steps_left_ = 0;
    exhausted_ = true;
    return false;
}

}  // namespace kelregexp
