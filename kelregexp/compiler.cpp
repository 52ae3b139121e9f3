#include <cstring>
#include <map>
#include <new>

#include "kelregexp/compiled_pattern.hpp"

namespace kelregexp {

namespace {

// A compiled construct: its first node and the continuation fields inside it
// that are still open (node indices whose `next` is to be filled in).
struct Fragment {
    std::int32_t first = -1;
    std::vector<std::int32_t> open;
    bool empty() const { return first < 0; }
};

bool is_sequence_end(unsigned char c) { return c == ')' || c == '|' || c == '*' || c == '+' || c == '?'; }

int hex_digit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The parser recurses once per nesting level (expression, sequence, atom);
// the heavier leaf steps are kept out of line so that each level costs little stack.
class Compiler {
public:
    Compiler(std::string_view pattern, int mode, int options, Compiled_Pattern& out)
        : p_(reinterpret_cast<const unsigned char*>(pattern.data())),
          end_(p_ + pattern.size()),
          pattern_begin_(p_),
          pattern_end_(end_),
          mode_(mode),
          options_(options),
          out_(out) {}

    bool pattern() {
        Fragment whole;
        if (!expression(true, whole)) return fail(p_, "invalid pattern");
        // Sequences stop early only at `)` or at a failure of their own.
        if (p_ != end_) return fail(p_, "unmatched )");
        out_.root = whole.first;
        return true;
    }

    bool captures_in_sub_matches() const { return captures_in_sub_matches_; }
    const Compile_Error& error() const { return error_; }

private:
    const unsigned char* p_;
    const unsigned char* end_;
    const unsigned char* pattern_begin_;
    const unsigned char* pattern_end_;
    // Where a predefined class's definition is being compiled from (it is not
    // part of the pattern text): errors are placed at its escape.
    const unsigned char* definition_at_ = nullptr;
    Compile_Error error_;
    int mode_;
    int options_;
    int depth_ = 0;
    bool captures_in_sub_matches_ = false;
    Compiled_Pattern& out_;
    // Locale comparison of every byte against one pattern byte, by (byte, flags).
    std::map<std::uint64_t, std::array<signed char, 256>> locale_rows_;

    std::int32_t add(Op op, std::uint8_t flags = 0) {
        Node node;
        node.op = op;
        node.mode = static_cast<std::uint8_t>(mode_);
        node.flags = flags;
        out_.nodes.push_back(node);
        return static_cast<std::int32_t>(out_.nodes.size() - 1);
    }

    Fragment single(std::int32_t node) { return Fragment{node, {node}}; }

    // Records the first (innermost) failure; later ones on the way out are
    // consequences of it. Always false.
    bool fail(const unsigned char* at, const char* reason) {
        if (error_.reason) return false;
        if (definition_at_) at = definition_at_;
        if (at < pattern_begin_ || at > pattern_end_) at = pattern_end_;
        error_.position = static_cast<std::size_t>(at - pattern_begin_);
        error_.reason = reason;
        return false;
    }

    std::uint8_t multiline_flag() const { return options_ & option_multiline ? flag_multiline : 0; }

    void patch(const std::vector<std::int32_t>& open, std::int32_t target) {
        for (std::int32_t n : open) out_.nodes[n].next = target;
    }

    bool number(std::uint32_t& value) {
        value = 0;
        if (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') value = value * 10 + (*p_++ - '0');
            return true;
        }
        if (p_ < end_ && *p_ == '$') {
            ++p_;
            if (p_ >= end_ || hex_digit(*p_) < 0) return fail(p_ - 1, "$ without hexadecimal digits");
            while (p_ < end_ && hex_digit(*p_) >= 0) value = value * 16 + static_cast<std::uint32_t>(hex_digit(*p_++));
            return true;
        }
        return false;
    }

    // An expression: optional header, then alternatives.
    bool expression(bool at_pattern_start, Fragment& result) {
        result = {};
        bool capture = false;
        std::uint32_t capture_number = 0;
        if (p_ < end_ && *p_ == '?') {
            if (!header(at_pattern_start, capture, capture_number)) return false;
        }
        if (!sequence(result)) return false;
        // An empty alternative before a `|` never compiles: the `|` would be left over.
        if (result.empty()) return p_ < end_ && *p_ == '|' ? fail(p_, "empty alternative") : true;
        while (p_ < end_ && *p_ == '|') {
            ++p_;
            Fragment alternative;
            if (!sequence(alternative)) return false;
            if (alternative.empty()) {
                if (p_ < end_ && *p_ == '|') return fail(p_, "empty alternative");
                break;
            }
            std::int32_t node = add(Op::alternation);
            out_.nodes[node].next = result.first;
            out_.nodes[node].alternation.second = alternative.first;
            result.first = node;
            result.open.insert(result.open.end(), alternative.open.begin(), alternative.open.end());
        }
        if (capture) {
            std::int32_t start = add(Op::capture_start);
            std::int32_t slot = out_.record_count++;
            out_.nodes[start].capture_start.slot = slot;
            out_.nodes[start].next = result.first;
            std::int32_t end = add(Op::capture_end);
            out_.nodes[end].capture_end = {slot, static_cast<std::int32_t>(capture_number)};
            patch(result.open, end);
            result = Fragment{start, {end}};
        }
        return true;
    }

    [[gnu::noinline]] bool header(bool at_pattern_start, bool& capture, std::uint32_t& capture_number) {
        ++p_;  // '?'
        static constexpr char letters[] = "ESWULANMBKIX";
        while (p_ < end_) {
            unsigned char c = *p_;
            if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
            const char* found = c ? std::strchr(letters, c) : nullptr;
            if (!found) break;
            ++p_;
            switch (c) {
                case 'N': mode_ = mode_n; continue;
                case 'A': mode_ = mode_a; continue;
                case 'L': mode_ = mode_l; continue;
                case 'U': mode_ = mode_u; continue;
                case 'W': mode_ = mode_w; continue;
                case 'S': mode_ = mode_s; continue;
                case 'E': mode_ = mode_e; continue;
                default: break;
            }
            int bit = c == 'M'   ? option_multiline
                      : c == 'B' ? option_ignore_width
                      : c == 'K' ? option_ignore_kana
                      : c == 'I' ? option_ignore_case
                                 : option_locale;
            if (p_ < end_ && *p_ == '-') {
                ++p_;
                options_ &= ~bit;
            } else {
                if (p_ < end_ && *p_ == '+') ++p_;
                options_ |= bit;
            }
        }
        if (p_ < end_ && ((*p_ >= '0' && *p_ <= '9') || *p_ == '$')) {
            if (!number(capture_number)) return false;
            capture = true;
        }
        if (p_ >= end_ || *p_ != ':') return fail(p_, "option header not ended by :");
        ++p_;
        if (at_pattern_start) {
            out_.mode = static_cast<std::uint8_t>(mode_);
            out_.options = static_cast<std::uint8_t>(options_);
        }
        return true;
    }

    // Items up to `)`, `|`, a stray quantifier or the end. Iterative, so a
    // long pattern costs no stack.
    bool sequence(Fragment& result) {
        result = {};
        // What the last item was, to say why a quantifier after it is wrong.
        enum { none, plain, quantified, look_ahead } last = none;
        while (p_ < end_ && !is_sequence_end(*p_)) {
            Fragment item;
            std::size_t nodes_before = out_.nodes.size();
            if (*p_ == '=' || *p_ == '~') {
                bool negative = *p_ == '~';
                const unsigned char* prefix = p_;
                ++p_;
                if (p_ >= end_ || is_sequence_end(*p_)) return fail(prefix, "look-ahead without an item");
                Fragment sub;
                if (!atom(sub)) return false;
                last = look_ahead;
                note_sub_match(nodes_before);
                std::int32_t node = add(negative ? Op::look_negative : Op::look_positive);
                out_.nodes[node].look.body = sub.first;
                item = single(node);
            } else {
                Fragment body;
                if (!atom(body)) return false;
                if (p_ < end_ && (*p_ == '*' || *p_ == '+' || *p_ == '?')) {
                    unsigned char quantifier = *p_++;
                    unsigned char modifier = 0;
                    if (p_ < end_ && (*p_ == '!' || *p_ == '?')) modifier = *p_++;
                    int base = quantifier == '*' ? 0 : quantifier == '+' ? 3 : 6;
                    int variant = base + (modifier == '!' ? 1 : modifier == '?' ? 2 : 0);
                    note_sub_match(nodes_before);
                    std::int32_t node = add(Op::repetition);
                    out_.nodes[node].repetition = {body.first, -1};
                    out_.nodes[node].repeat = static_cast<Repeat>(variant);
                    item = single(node);
                    last = quantified;
                } else {
                    item = std::move(body);
                    last = plain;
                }
            }
            if (result.empty()) {
                result = std::move(item);
            } else {
                patch(result.open, item.first);
                result.open = std::move(item.open);
            }
        }
        // A quantifier that ends a sequence has nothing to repeat: it would be left over.
        if (p_ < end_ && (*p_ == '*' || *p_ == '+' || *p_ == '?')) {
            return fail(p_, last == quantified   ? "second quantifier"
                            : last == look_ahead ? "quantifier after a look-ahead"
                                                 : "quantifier without an item before it");
        }
        return true;
    }

    // Captures inside a repetition body or a look-ahead are reported by
    // attempts that fail later; the search must then try every position.
    [[gnu::noinline]] void note_sub_match(std::size_t nodes_before) {
        for (std::size_t i = nodes_before; i < out_.nodes.size(); ++i)
            if (out_.nodes[i].op == Op::capture_end) captures_in_sub_matches_ = true;
    }

    bool atom(Fragment& result) {
        unsigned char c = *p_;
        switch (c) {
            case '(': {
                const unsigned char* open = p_;
                if (++depth_ > max_nesting) return fail(open, "groups nested too deeply");
                ++p_;
                int saved_mode = mode_, saved_options = options_;
                bool ok = expression(false, result);
                mode_ = saved_mode;
                options_ = saved_options;
                --depth_;
                if (!ok) return false;
                if (p_ >= end_ || *p_ != ')') return fail(open, "group not closed");
                if (result.empty()) return fail(open, "empty group");
                ++p_;
                return true;
            }
            case '[': return character_class(result);
            case '<':
                ++p_;
                result = single(add(Op::word_start));
                return true;
            case '>':
                ++p_;
                result = single(add(Op::word_end));
                return true;
            case '^':
            case '%':
                ++p_;
                result = single(add(Op::start_anchor, multiline_flag()));
                return true;
            case '$':
                ++p_;
                result = single(add(Op::end_anchor, multiline_flag()));
                return true;
            case '.':
                ++p_;
                result = single(any_character());
                return true;
            case '\\': return escape(result);
            case 0: return fail(p_, "NUL byte (write \\0)");
            case ']': return fail(p_, "unescaped ]");
            case '-': return fail(p_, "unescaped -");
            case '!': return fail(p_, "unescaped !");
            case '~':
            case '=': return fail(p_, "look-ahead directly after a look-ahead");
            case ')':
            case '|':
            case '*':
            case '+':
            case '?': return fail(p_, "item expected");
            default: {
                Char_Value value;
                if (!read_char(value)) return false;
                result = single(literal(value));
                return true;
            }
        }
    }

    [[gnu::noinline]] bool escape(Fragment& result) {
        ++p_;  // '\'
        if (p_ >= end_) return fail(p_ - 1, "\\ at the end of the pattern");
        unsigned char c = *p_;
        unsigned char lower = c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
        const char* definition = nullptr;
        int code = -1;
        switch (lower) {
            case 'd': definition = "[0-9]"; break;
            case 'n': definition = "#10|#13#10?!"; break;
            case 's': definition = "[#0-#32]"; break;
            case 'w': definition = "[A-Za-z_0-9]"; break;
            case 'a': code = 7; break;
            case 'b': code = 8; break;
            case 'e': code = 0x1B; break;
            case 'f': code = 0x0C; break;
            case 'l': code = 0x0A; break;
            case 'r': code = 0x0D; break;
            case 't': code = 9; break;
            case 'v': code = 0x0B; break;
            case 'z': code = 0x1A; break;
            case '0': code = 0; break;
            case '#': code = '#'; break;
            default: break;
        }
        if (definition) {
            ++p_;
            return compile_definition(definition, p_ - 2, result);
        }
        if (code >= 0) {
            ++p_;
            result = single(literal(code_to_value(mode_, static_cast<std::uint32_t>(code))));
            return true;
        }
        Char_Value value;
        if (!read_char(value)) return false;
        result = single(literal(value));
        return true;
    }

    // A predefined class, compiled from its definition in the current mode and options.
    [[gnu::noinline]] bool compile_definition(const char* definition, const unsigned char* escape_at,
                                              Fragment& result) {
        const unsigned char* saved_p = p_;
        const unsigned char* saved_end = end_;
        p_ = reinterpret_cast<const unsigned char*>(definition);
        end_ = p_ + std::strlen(definition);
        definition_at_ = escape_at;
        bool ok = expression(false, result) && p_ == end_ && !result.empty();
        if (!ok) fail(p_, "predefined class does not compile here");
        definition_at_ = nullptr;
        p_ = saved_p;
        end_ = saved_end;
        return ok;
    }

    // One pattern character: a `#` code, or a character of the pattern's code page.
    [[gnu::noinline]] bool read_char(Char_Value& value) {
        if (p_ >= end_) return fail(p_, "character expected");
        if (*p_ == '#') {
            const unsigned char* hash = p_;
            ++p_;
            std::uint32_t code;
            if (!number(code)) return fail(hash, "# without a number");
            value = code_to_value(mode_, code);
            return true;
        }
        switch (mode_) {
            case mode_n:
            case mode_a:
            case mode_e:
                if (is_lead_byte(*p_)) return fail(p_, "double-byte character in a single-byte mode");
                value = *p_++ | (1u << 24);
                return true;
            case mode_l:
                if (is_lead_byte(*p_)) {
                    if (end_ - p_ < 2) return fail(p_, "double-byte character cut off");
                    value = p_[0] | (p_[1] << 8) | (2u << 24);
                    p_ += 2;
                } else {
                    value = *p_++ | (1u << 24);
                }
                return true;
            default: {
                int length = is_lead_byte(*p_) ? 2 : 1;
                if (end_ - p_ < length) return fail(p_, "double-byte character cut off");
                unsigned unit;
                if (!ansi_to_unit(p_, length, unit)) return fail(p_, "character without a single UTF-16 unit");
                p_ += length;
                if (mode_ != mode_u) {
                    value = unit;
                } else if (unit < 0x80) {
                    value = unit | (1u << 24);
                } else if (unit < 0x800) {
                    value = (0xC0 | (unit >> 6)) | ((0x80 | (unit & 0x3F)) << 8) | (2u << 24);
                } else {
                    value = (0xE0 | (unit >> 12)) | ((0x80 | ((unit >> 6) & 0x3F)) << 8) |
                            ((0x80 | (unit & 0x3F)) << 16) | (3u << 24);
                }
                return true;
            }
        }
    }

    bool byte_mode() const { return mode_ == mode_n || mode_ == mode_a; }

    // Sign of the comparison of every text byte with one pattern character
    // (modes N and A), so that matching needs no comparison call at all.
    const std::array<signed char, 256>& row(Char_Value pattern) {
        Comparison comparison = comparison_for(mode_, options_);
        DWORD flags = comparison_flags(options_);
        std::uint64_t key = (static_cast<std::uint64_t>(flags) << 16) | (static_cast<unsigned>(comparison) << 8) |
                            value_byte(pattern, 0);
        key |= static_cast<std::uint64_t>(mode_) << 48;
        auto [it, added] = locale_rows_.try_emplace(key);
        if (added) {
            for (unsigned b = 0; b < 256; ++b) {
                int d = compare_chars(mode_, comparison, b | (1u << 24), pattern, flags);
                it->second[b] = static_cast<signed char>(d < 0 ? -1 : d > 0 ? 1 : 0);
            }
        }
        return it->second;
    }

    struct Class_Member {
        Char_Value low, high;
        bool range;
    };

    void add_members_to_set(const std::vector<Class_Member>& members, Byte_Set& set) {
        for (const auto& m : members) {
            const auto& low = row(m.low);
            if (!m.range) {
                for (int b = 0; b < 256; ++b) set.has[b] |= low[b] == 0;
            } else {
                const auto& high = row(m.high);
                for (int b = 0; b < 256; ++b) set.has[b] |= low[b] >= 0 && high[b] <= 0;
            }
        }
    }

    std::int32_t byte_set_node(const Byte_Set& set) {
        out_.sets.push_back(set);
        std::int32_t node = add(Op::byte_set);
        out_.nodes[node].byte_set.set = static_cast<std::int32_t>(out_.sets.size() - 1);
        return node;
    }

    std::int32_t chars_node(const std::vector<Class_Member>& members, std::uint8_t flags) {
        std::int32_t node = add(Op::chars, flags);
        out_.nodes[node].chars = {static_cast<std::int32_t>(out_.members.size()),
                                  static_cast<std::int32_t>(members.size())};
        Comparison comparison = comparison_for(mode_, options_);
        DWORD flags_value = comparison_flags(options_);
        for (const auto& m : members) out_.members.push_back({m.low, m.high, comparison, m.range, flags_value});
        return node;
    }

    // Everything `.` (or the step after a negated class) accepts.
    Byte_Set any_byte() const {
        Byte_Set set;
        set.has.fill(true);
        if (options_ & option_multiline) set.has['\r'] = set.has['\n'] = false;
        return set;
    }

    [[gnu::noinline]] std::int32_t any_character() {
        if (byte_mode()) return byte_set_node(any_byte());
        return chars_node({}, static_cast<std::uint8_t>(flag_any | multiline_flag()));
    }

    [[gnu::noinline]] std::int32_t literal(Char_Value value) {
        std::vector<Class_Member> members{{value, value, false}};
        if (!byte_mode()) return chars_node(members, 0);
        Byte_Set set;
        add_members_to_set(members, set);
        return byte_set_node(set);
    }

    [[gnu::noinline]] bool character_class(Fragment& result) {
        const unsigned char* open = p_;
        ++p_;  // '['
        bool negated = false;
        if (p_ < end_ && (*p_ == '^' || *p_ == '~')) {
            negated = true;
            ++p_;
        }
        std::vector<Class_Member> members;
        for (bool first = true;; first = false) {
            if (p_ >= end_) return fail(open, "class not closed");
            if (!first && *p_ == ']') {
                ++p_;
                break;
            }
            Class_Member m{};
            if (!read_char(m.low)) return false;
            m.high = m.low;
            if (p_ < end_ && *p_ == '-') {
                ++p_;
                if (p_ >= end_) return fail(open, "class not closed");
                if (!read_char(m.high)) return false;
                m.range = true;
            }
            members.push_back(m);
        }
        if (!byte_mode()) {
            result =
                single(chars_node(members, negated ? static_cast<std::uint8_t>(flag_negated | multiline_flag()) : 0));
            return true;
        }
        // The members are tried in order and each consumes the same one byte,
        // so the whole class is one set.
        Byte_Set set;
        add_members_to_set(members, set);
        if (negated) {
            Byte_Set any = any_byte();
            for (int b = 0; b < 256; ++b) set.has[b] = !set.has[b] && any.has[b];
        }
        result = single(byte_set_node(set));
        return true;
    }
};

// Adds to `out` the bytes that a match starting at node n can have at offset
// k. False when that is not constrained (the match may be shorter, or a
// multi-byte character comes first) or when the budget of steps runs out.
bool first_bytes(const Compiled_Pattern& pattern, std::int32_t n, int k, Byte_Set& out, int& budget) {
    for (;;) {
        if (--budget < 0 || n < 0) return false;
        const Node& node = pattern.nodes[n];
        switch (node.op) {
            case Op::byte_set:
                if (k == 0) {
                    const Byte_Set& set = pattern.sets[node.byte_set.set];
                    for (int b = 0; b < 256; ++b) out.has[b] |= set.has[b];
                    return true;
                }
                --k;
                n = node.next;
                continue;
            case Op::chars: return false;
            case Op::alternation:
                if (!first_bytes(pattern, node.alternation.second, k, out, budget)) return false;
                n = node.next;
                continue;
            case Op::repetition:
                if (k > 0) return false;
                if (!first_bytes(pattern, node.repetition.body, 0, out, budget)) return false;
                if (node.repeat == Repeat::plus || node.repeat == Repeat::plus_possessive ||
                    node.repeat == Repeat::plus_lazy)
                    return true;
                n = node.next;
                continue;
            default:  // anchors, captures, look-aheads take no bytes
                n = node.next;
                continue;
        }
    }
}

// Rough frequency of each byte in web pages, per thousand bytes, to pick the
// rarest bytes to scan for.
int byte_frequency(unsigned char b) {
    static const char letters[] = "etaoinsrhldcumfpgwybvkxjqz";
    static const int letter_frequency[] = {90, 65, 60, 55, 55, 55, 50, 50, 35, 33, 30, 28, 22,
                                           20, 18, 17, 15, 14, 13, 12, 8,  5,  2,  1,  1,  1};
    if (b >= 'a' && b <= 'z') return letter_frequency[std::strchr(letters, b) - letters];
    if (b >= 'A' && b <= 'Z') return 3;
    if (b >= '0' && b <= '9') return 8;
    switch (b) {
        case ' ': return 150;
        case '<':
        case '>':
        case '"': return 20;
        case '=': return 18;
        case '/': return 15;
        case '.': return 10;
        case ',': return 8;
        case '\r':
        case '\n':
        case ':':
        case ';':
        case '-': return 5;
        default: return 2;
    }
}

// Sets whose bytes together are more frequent than this (per thousand) are not probed for.
constexpr int max_probe_cost = 500;

bool constrained_first_bytes(const Compiled_Pattern& pattern, std::int32_t n, int k, Byte_Set& out) {
    int budget = 4096;
    out = {};
    return first_bytes(pattern, n, k, out, budget) && !out.all();
}

void build_filters(Compiled_Pattern& pattern, bool allowed) {
    // A simple repetition: one byte per pass, so it can be run as a loop.
    for (std::size_t i = 0; i < pattern.nodes.size(); ++i) {
        Node& node = pattern.nodes[i];
        if (node.op != Op::repetition || node.repeat == Repeat::optional ||
            node.repeat == Repeat::optional_possessive || node.repeat == Repeat::optional_lazy)
            continue;
        const Node& body = pattern.nodes[node.repetition.body];
        if (body.op != Op::byte_set || body.next != -1) continue;
        node.flags |= flag_simple;
        node.repetition.continuation_set = -1;
        Byte_Set next;
        if (allowed && constrained_first_bytes(pattern, node.next, 0, next)) {
            pattern.sets.push_back(next);
            pattern.nodes[i].repetition.continuation_set = static_cast<std::int32_t>(pattern.sets.size() - 1);
        }
    }
    Start_Filter& filter = pattern.filter;
    filter = {};
    if (!allowed || pattern.root < 0) return;
    int best = -1, second = -1;
    int cost[Start_Filter::depth] = {};
    for (int k = 0; k < Start_Filter::depth; ++k) {
        filter.unconstrained[k] = !constrained_first_bytes(pattern, pattern.root, k, filter.sets[k]);
        if (filter.unconstrained[k]) continue;
        for (int b = 0; b < 256; ++b)
            if (filter.sets[k].has[b]) cost[k] += byte_frequency(static_cast<unsigned char>(b));
        // A set that most bytes are in would find nearly every position.
        if (cost[k] > max_probe_cost) continue;
        if (best < 0 || cost[k] < cost[best]) {
            second = best;
            best = k;
        } else if (second < 0 || cost[k] < cost[second]) {
            second = k;
        }
    }
    filter.any = filter.unconstrained[0];
    int chosen[2] = {best, second};
    for (int i = 0; i < 2; ++i) {
        if (chosen[i] < 0) continue;
        auto& probe = filter.probes[i];
        probe.offset = chosen[i];
        for (int b = 0; b < 256; ++b) {
            if (!filter.sets[chosen[i]].has[b]) continue;
            if (probe.size < 4) probe.bytes[probe.size] = static_cast<unsigned char>(b);
            ++probe.size;
            probe.low[b >> 7][b & 15] |= static_cast<unsigned char>(1u << ((b >> 4) & 7));
        }
    }
    // Rare bytes (about 1 in 250 or fewer) are found fastest by memchr.
    filter.use_memchr = best >= 0 && filter.probes[0].size <= 2 && cost[best] <= 4;
}

}  // namespace

bool compile(std::string_view pattern, int mode, int options, Compiled_Pattern& out, Compile_Error* error) {
    Compile_Error ignored;
    Compile_Error& why = error ? *error : ignored;
    why = {};
    out.release();
    out.mode = static_cast<std::uint8_t>(mode);
    out.options = static_cast<std::uint8_t>(options);
    if (mode < 0 || mode >= mode_count) {
        why.reason = "no such encoding mode";
        return false;
    }
    try {
        Compiler compiler(pattern, mode, options & 0xFF, out);
        if (!compiler.pattern()) {
            why = compiler.error();
            out.release();
            return false;
        }
        build_filters(out, !compiler.captures_in_sub_matches());
        return true;
    } catch (const std::bad_alloc&) {
        why.reason = "out of memory";
        out.release();
        return false;
    }
}

}  // namespace kelregexp
