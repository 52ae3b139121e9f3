#include "kelregexp/regular_expression.hpp"

#include <array>

namespace kelregexp {

namespace {

void store_capture(std::int32_t number, const char* start, const char* end, void* context) {
    auto& captures = *static_cast<Regular_Expression::Captures*>(context);
    captures[number] = std::string_view(start, static_cast<std::size_t>(end - start));
}

// The captures a template can name ($0 to $9), for replace_all: kept
// without a map, since nothing else is ever looked up.
struct Template_Captures {
    std::array<std::string_view, 10> part{};
};

void store_template_capture(std::int32_t number, const char* start, const char* end, void* context) {
    if (number < 0 || number > 9) return;
    static_cast<Template_Captures*>(context)->part[static_cast<std::size_t>(number)] =
        std::string_view(start, static_cast<std::size_t>(end - start));
}

bool names_captures(std::string_view template_text) {
    for (std::size_t i = 0; i + 1 < template_text.size(); ++i)
        if (template_text[i] == '$') {
            char d = template_text[++i];
            if (d >= '0' && d <= '9') return true;
        }
    return false;
}

// The template expanded for one match, appended to `out`; `capture(n)` gives
// capture n (0 to 9).
template <class Capture>
void expand_into(std::string& out, std::string_view template_text, std::string_view prefix, std::string_view match,
                 std::string_view suffix, Capture&& capture) {
    for (std::size_t i = 0; i < template_text.size(); ++i) {
        char c = template_text[i];
        if (c != '$' || i + 1 == template_text.size()) {
            out += c;
            continue;
        }
        char d = template_text[++i];
        if (d == '`') {
            out += prefix;
        } else if (d == '&') {
            out += match;
        } else if (d == '\'') {
            out += suffix;
        } else if (d >= '0' && d <= '9') {
            out += capture(d - '0');
        } else {
            out += '$';
            out += d;
        }
    }
}

// A lease whose budget is that of an operation on `size` bytes.
struct Budgeted_Lease : Matcher_Lease {
    explicit Budgeted_Lease(std::size_t size) : size(size) { (*this)->set_budget(step_budget(size)); }
    // Raises the budget error if a search of the operation gave up.
    void check() const {
        if ((*this)->exhausted()) throw Match_Budget_Error(step_budget(size), size);
    }
    std::size_t size;
};

}  // namespace

Regular_Expression::Regular_Expression(std::string_view pattern, int encoding_mode, int options) {
    Compile_Error error;
    if (!compile(pattern, encoding_mode, options, pattern_, &error))
        throw Regular_Expression_Error(error.position, error.reason ? error.reason : "invalid pattern");
}

Regular_Expression::~Regular_Expression() { pattern_.release(); }

bool Regular_Expression::match_at(Match_State state, const char*& position) const {
    Budgeted_Lease matcher(static_cast<std::size_t>(state.end - state.begin));
    bool matched = matcher->match_at(pattern_, state, position);
    matcher.check();
    return matched;
}

signed char Regular_Expression::encoding_mode() const { return static_cast<signed char>(pattern_.mode); }

signed char Regular_Expression::options() const { return static_cast<signed char>(pattern_.options); }

bool Regular_Expression::matches_whole(std::string_view text) const {
    Match_State state{text.data(), text.data() + text.size(), nullptr, nullptr};
    const char* position = text.data();
    return match_at(state, position) && position == state.end;
}

std::ptrdiff_t Regular_Expression::find(std::string_view text) const {
    std::ptrdiff_t start, end;
    search(text, 0, start, end);
    return start;
}

bool Regular_Expression::search_in(Matcher& matcher, std::string_view text, std::ptrdiff_t start,
                                   std::ptrdiff_t& match_start, std::ptrdiff_t& match_end, Capture_Callback callback,
                                   void* context) const {
    match_start = match_end = -1;
    if (start < 0 || start >= static_cast<std::ptrdiff_t>(text.size())) return false;
    Match_State state{text.data(), text.data() + text.size(), callback, context};
    const char *s, *e;
    if (!matcher.search(pattern_, state, text.data() + start, s, e)) return false;
    match_start = s - text.data();
    match_end = e - text.data();
    return true;
}

bool Regular_Expression::search(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                                std::ptrdiff_t& match_end) const {
    Budgeted_Lease matcher(text.size());
    bool found = search_in(*matcher, text, start, match_start, match_end, nullptr, nullptr);
    matcher.check();
    return found;
}

std::ptrdiff_t Regular_Expression::find_with_captures(std::string_view text, Captures& captures) const {
    std::ptrdiff_t start, end;
    search_with_captures(text, 0, start, end, captures);
    return start;
}

bool Regular_Expression::search_with_captures(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                                              std::ptrdiff_t& match_end, Captures& captures) const {
    Budgeted_Lease matcher(text.size());
    captures.clear();
    bool found = search_in(*matcher, text, start, match_start, match_end, store_capture, &captures);
    matcher.check();
    return found;
}

std::ptrdiff_t Regular_Expression::resume_index(std::string_view text, std::ptrdiff_t match_start,
                                                std::ptrdiff_t match_end) const {
    if (match_end != match_start) return match_end;
    const char* next = next_position(text.data() + match_end);
    std::ptrdiff_t index = next - text.data();
    return index > static_cast<std::ptrdiff_t>(text.size()) ? static_cast<std::ptrdiff_t>(text.size()) : index;
}

std::vector<std::string_view> Regular_Expression::split(std::string_view text) const {
    Budgeted_Lease matcher(text.size());
    std::vector<std::string_view> pieces;
    std::string_view rest = text;
    // `from`: where the search of the rest starts; one character in after an
    // empty match (that character stays in the next piece).
    std::ptrdiff_t from = 0, s, e;
    while (search_in(*matcher, rest, from, s, e, nullptr, nullptr)) {
        pieces.push_back(rest.substr(0, static_cast<std::size_t>(s)));
        from = e == s ? resume_index(rest, s, e) - e : 0;
        rest = rest.substr(static_cast<std::size_t>(e));
    }
    matcher.check();
    pieces.push_back(rest);
    return pieces;
}

std::vector<std::string_view> Regular_Expression::find_all(std::string_view text) const {
    Budgeted_Lease matcher(text.size());
    std::vector<std::string_view> found;
    std::string_view rest = text;
    std::ptrdiff_t from = 0, s, e;
    while (search_in(*matcher, rest, from, s, e, nullptr, nullptr)) {
        found.push_back(rest.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s)));
        from = e == s ? resume_index(rest, s, e) - e : 0;
        rest = rest.substr(static_cast<std::size_t>(e));
    }
    matcher.check();
    return found;
}

std::string Regular_Expression::replace_all(std::string_view text, std::string_view template_text) const {
    Replace_Stats stats;
    return replace_all(text, template_text, stats);
}

std::string Regular_Expression::replace_all(std::string_view text, std::string_view template_text,
                                            Replace_Stats& stats) const {
    std::string result;
    if (!replace_all_into(text, template_text, result, stats)) result.assign(text);
    return result;
}

bool Regular_Expression::replace_all_into(std::string_view text, std::string_view template_text, std::string& out,
                                          Replace_Stats& stats) const {
    Budgeted_Lease matcher(text.size());
    out.clear();
    stats = {};
    // Captures are recorded only when the template names one.
    Template_Captures captures;
    const bool capturing = names_captures(template_text);
    const Capture_Callback callback = capturing ? store_template_capture : nullptr;
    std::ptrdiff_t copied = 0, s, e, from = 0;
    while (search_in(*matcher, text, from, s, e, callback, &captures)) {
        if (stats.replaced++ == 0) out.reserve(text.size() + text.size() / 8 + template_text.size());
        out.append(text.substr(static_cast<std::size_t>(copied), static_cast<std::size_t>(s - copied)));
        const auto start = static_cast<std::size_t>(s), end = static_cast<std::size_t>(e);
        expand_into(out, template_text, text.substr(0, start), text.substr(start, end - start), text.substr(end),
                    [&](int n) { return captures.part[static_cast<std::size_t>(n)]; });
        if (capturing) captures = {};
        copied = e;
        from = resume_index(text, s, e);
    }
    stats.steps = step_budget(text.size()) - matcher->steps_left();
    matcher.check();
    if (stats.replaced == 0) return false;
    out.append(text.substr(static_cast<std::size_t>(copied)));
    return true;
}

std::string Regular_Expression::expand_template(std::string_view template_text, std::string_view prefix,
                                                std::string_view match, std::string_view suffix,
                                                Captures& captures) const {
    std::string out;
    out.reserve(template_text.size() + match.size());
    expand_into(out, template_text, prefix, match, suffix, [&](int n) { return captures[n]; });
    return out;
}

const char* Regular_Expression::next_position(const char* position) const {
    return position + character_length(pattern_.mode, reinterpret_cast<const unsigned char*>(position));
}

}  // namespace kelregexp
