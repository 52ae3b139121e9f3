#include "kelregexp/regular_expression.hpp"

namespace {

void store_capture(std::int32_t number, const char* start, const char* end, void* context) {
    auto& captures = *static_cast<Regular_Expression::Captures*>(context);
    captures[number] = std::string_view(start, static_cast<std::size_t>(end - start));
}

}  // namespace

Regular_Expression::Regular_Expression(std::string_view pattern, int encoding_mode, int options) {
    if (!kelregexp::compile(pattern, encoding_mode, options, pattern_)) throw Regular_Expression_Error();
}

Regular_Expression::~Regular_Expression() { pattern_.release(); }

bool Regular_Expression::match_at(Match_State state, const char*& position) {
    return matcher_.match_at(pattern_, state, position);
}

signed char Regular_Expression::encoding_mode() const { return static_cast<signed char>(pattern_.mode); }

signed char Regular_Expression::options() const { return static_cast<signed char>(pattern_.options); }

bool Regular_Expression::matches_whole(std::string_view text) {
    Match_State state{text.data(), text.data() + text.size(), nullptr, nullptr};
    const char* position = text.data();
    return match_at(state, position) && position == state.end;
}

std::ptrdiff_t Regular_Expression::find(std::string_view text) {
    std::ptrdiff_t start, end;
    search(text, 0, start, end);
    return start;
}

bool Regular_Expression::search(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                                std::ptrdiff_t& match_end) {
    match_start = match_end = -1;
    if (start < 0 || start >= static_cast<std::ptrdiff_t>(text.size())) return false;
    Match_State state{text.data(), text.data() + text.size(), nullptr, nullptr};
    const char *s, *e;
    if (!matcher_.search(pattern_, state, text.data() + start, s, e)) return false;
    match_start = s - text.data();
    match_end = e - text.data();
    return true;
}

std::ptrdiff_t Regular_Expression::find_with_captures(std::string_view text, Captures& captures) {
    std::ptrdiff_t start, end;
    search_with_captures(text, 0, start, end, captures);
    return start;
}

bool Regular_Expression::search_with_captures(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t& match_start,
                                              std::ptrdiff_t& match_end, Captures& captures) {
    captures.clear();
    match_start = match_end = -1;
    if (start < 0 || start >= static_cast<std::ptrdiff_t>(text.size())) return false;
    Match_State state{text.data(), text.data() + text.size(), store_capture, &captures};
    const char *s, *e;
    if (!matcher_.search(pattern_, state, text.data() + start, s, e)) return false;
    match_start = s - text.data();
    match_end = e - text.data();
    return true;
}

std::ptrdiff_t Regular_Expression::resume_index(std::string_view text, std::ptrdiff_t match_start,
                                                std::ptrdiff_t match_end) const {
    if (match_end != match_start) return match_end;
    const char* next = next_position(text.data() + match_end);
    std::ptrdiff_t index = next - text.data();
    return index > static_cast<std::ptrdiff_t>(text.size()) ? static_cast<std::ptrdiff_t>(text.size()) : index;
}

std::vector<std::string_view> Regular_Expression::split(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::string_view rest = text;
    // `from`: where the search of the rest starts; one character in after an
    // empty match (that character stays in the next piece).
    std::ptrdiff_t from = 0, s, e;
    while (search(rest, from, s, e)) {
        pieces.push_back(rest.substr(0, static_cast<std::size_t>(s)));
        from = e == s ? resume_index(rest, s, e) - e : 0;
        rest = rest.substr(static_cast<std::size_t>(e));
    }
    pieces.push_back(rest);
    return pieces;
}

std::vector<std::string_view> Regular_Expression::find_all(std::string_view text) {
    std::vector<std::string_view> found;
    std::string_view rest = text;
    std::ptrdiff_t from = 0, s, e;
    while (search(rest, from, s, e)) {
        found.push_back(rest.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s)));
        from = e == s ? resume_index(rest, s, e) - e : 0;
        rest = rest.substr(static_cast<std::size_t>(e));
    }
    return found;
}

std::string Regular_Expression::replace_all(std::string_view text, std::string_view template_text) {
    std::string result;
    Captures captures;
    std::ptrdiff_t copied = 0, s, e, from = 0;
    while (search_with_captures(text, from, s, e, captures)) {
        result.append(text.substr(static_cast<std::size_t>(copied), static_cast<std::size_t>(s - copied)));
        result += expand_template(template_text, text.substr(0, static_cast<std::size_t>(s)),
                                  text.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s)),
                                  text.substr(static_cast<std::size_t>(e)), captures);
        copied = e;
        from = resume_index(text, s, e);
    }
    result.append(text.substr(static_cast<std::size_t>(copied)));
    return result;
}

std::string Regular_Expression::expand_template(std::string_view template_text, std::string_view prefix,
                                                std::string_view match, std::string_view suffix, Captures& captures) {
    std::string out;
    out.reserve(template_text.size() + match.size());
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
            out += captures[d - '0'];
        } else {
            out += '$';
            out += d;
        }
    }
    return out;
}

const char* Regular_Expression::next_position(const char* position) const {
    return position + kelregexp::character_length(pattern_.mode, reinterpret_cast<const unsigned char*>(position));
}
