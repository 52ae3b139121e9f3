#include "kelyaml/yaml_reader.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <string>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_scalar.hpp"

namespace kelyaml {

namespace {

using Kind = Yaml_Event_Kind;

constexpr std::size_t initial_levels = 16;
constexpr std::int64_t tab_width = 256;
// Indentations are kept in 32 bits; anything wider is clamped here and then
// refused as a content line (it cannot be opened as a level).
constexpr std::int64_t indent_limit = std::numeric_limits<std::int32_t>::max();

bool is_word_byte(unsigned char c, bool first) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '*' ||
           c == '+' || c >= 0x80 || (!first && c == '-');
}

bool is_start(Kind kind) noexcept { return kind == Kind::mapping_start || kind == Kind::sequence_start; }

bool is_line_end(char c) noexcept { return c == '\r' || c == '\n'; }

// 1 + the line ends before `offset`; CR LF counts once.
std::size_t line_number(std::string_view text, std::size_t offset) noexcept {
    std::size_t number = 1;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) ++number;
    }
    return number;
}

// The line quoted, cut at a character boundary after ERROR_LINE_BYTES bytes;
// control bytes and bytes that are not well-formed UTF-8 become "?", so that
// the message is good UTF-8 whatever the file holds.
std::string quoted_line(std::string_view text, std::size_t start) {
    std::size_t end = start;
    while (end < text.size() && !is_line_end(text[end])) ++end;
    const std::string_view line = text.substr(start, end - start);
    std::string out = "\"";
    std::size_t i = 0;
    while (i < line.size() && i < ERROR_LINE_BYTES) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if (byte >= 0x80) {
            const auto code = yaml_first_code_point(line.substr(i));
            const std::size_t length = code ? yaml_utf8(*code).size() : 1;
            if (code && i + length > ERROR_LINE_BYTES) break;  // no half characters
            out += code ? line.substr(i, length) : "?";
            i += length;
        } else {
            out += (byte < 0x20 && byte != '\t') || byte == 0x7F ? '?' : line[i];
            ++i;
        }
    }
    out += i < line.size() ? "…\"" : "\"";
    return out;
}

}  // namespace

Yaml_Reader::Yaml_Reader(std::string_view expected_type, std::string_view text) : text_(text) {
    std::string_view type;
    bool ok = true;
    try {
        levels_.reserve(initial_levels);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (ok && text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
    first_line_ = line_start_ = pos_;
    if (ok && text_.substr(pos_).starts_with("---")) {
        pos_ += 3;
        skip_spaces();
        ok = !at_end() && text_[pos_] == '!';
        if (ok) {
            ++pos_;
            skip_spaces();
            type = word();
            skip_spaces();
            // The header line must end with a line end, not with the text.
            ok = !type.empty() && !at_end() && at_line_end();
            if (ok) consume_line_end();
        }
    }
    if (!ok || !advance()) throw error("YAML Initialization Error");
    if (type != expected_type) throw error_at("YAML Type Error", first_line_);
}

Yaml_Reader::~Yaml_Reader() = default;

void Yaml_Reader::next() {
    if (!advance()) throw error("YAML Error");
    copy_event();
}

void Yaml_Reader::skip() {
    if (!skip_node()) throw error("YAML Structure Error");
    copy_event();
}

const Yaml_Event& Yaml_Reader::event() const { return event_; }
std::string_view Yaml_Reader::key() const { return key_; }
std::string_view Yaml_Reader::value() const { return value_; }

void Yaml_Reader::copy_event() noexcept {
    key_ = event_.key;
    value_ = event_.value;
}

Yaml_Error Yaml_Reader::error(const char* what) const { return error_at(what, line_start_); }

std::size_t Yaml_Reader::line_of(std::string_view part) const noexcept {
    if (part.empty() || part.data() < text_.data() || part.data() > text_.data() + text_.size()) return line_start_;
    auto start = static_cast<std::size_t>(part.data() - text_.data());
    while (start > 0 && !is_line_end(text_[start - 1])) --start;
    return start;
}

Yaml_Error Yaml_Reader::error_at(const char* what, std::size_t line_start) const {
    line_start = std::min(line_start, text_.size());
    return Yaml_Error(std::string(what) + " at line " + std::to_string(line_number(text_, line_start)) + ": " +
                      quoted_line(text_, line_start));
}

// --- Yaml_IO ---

void Yaml_Reader::field(std::string_view key, std::string_view& target) {
    if (key == key_) target = value_;
}

void Yaml_Reader::field(std::string_view key, char32_t& target) {
    if (key != key_) return;
    const auto code = yaml_first_code_point(value_);
    // Reported at the entry's line: the key is a view into it.
    if (!code) throw error_at("YAML Type Error", line_of(key_.empty() ? value_ : key_));
    target = *code;
}

void Yaml_Reader::field(std::string_view key, std::int32_t& target) {
    if (key == key_) target = static_cast<std::int32_t>(yaml_decimal(value_));
}

void Yaml_Reader::field(std::string_view key, std::uint32_t& target) {
    if (key == key_) target = yaml_based(value_);
}

void Yaml_Reader::field(std::string_view key, bool& target) {
    if (key == key_) target = yaml_bool(value_);
}

void Yaml_Reader::field(std::string_view key, std::uint8_t& target) {
    if (key == key_) target = static_cast<std::uint8_t>(yaml_decimal(value_));
}

void Yaml_Reader::sequence(std::string_view key, const Array_Access& access, const Yaml_Element_Handler& handler) {
    if (key != key_ || event_.kind != Kind::sequence_start) return;
    next();
    access.set_length(access.array, 0);
    for (std::size_t i = 0; event_.kind != Kind::collection_end; ++i) {
        // Only a handler that walked past the sequence's end can get here; stop
        // rather than call it for ever.
        if (event_.kind == Kind::document_end) throw error("YAML Structure Error");
        access.set_length(access.array, i + 1);
        handler(i);
        skip();
    }
}

void Yaml_Reader::item(std::string_view& target) { target = value_; }

void Yaml_Reader::mapping(const Yaml_Entry_Handler& handler) {
    if (event_.kind != Kind::mapping_start) return;
    next();
    while (event_.kind != Kind::collection_end) {
        if (event_.kind == Kind::document_end) throw error("YAML Structure Error");
        handler();
        skip();
    }
}

// --- Parser ---

bool Yaml_Reader::advance() noexcept {
    if (failed_) return false;
    bool ok;
    try {
        ok = step();
    } catch (const std::bad_alloc&) {
        ok = false;  // no storage for a deeper level
    }
    failed_ = !ok;
    return ok;
}

// Iterative, so that deep nesting costs heap (the level stack), not call stack.
bool Yaml_Reader::skip_node() noexcept {
    if (is_start(event_.kind)) {
        std::size_t depth = 1;
        if (!advance()) return false;
        for (;;) {
            const Kind kind = event_.kind;
            if (kind == Kind::collection_end) {
                if (--depth == 0) break;
            } else if (is_start(kind)) {
                ++depth;
            } else if (kind == Kind::document_end) {
                return false;  // every open collection closes before the end
            }
            if (!advance()) return false;
        }
    }
    return advance();
}

bool Yaml_Reader::step() {
    switch (resume_) {
        case Resume::at_end: return close_one();
        case Resume::first_entry:
            event_.kind = Kind::scalar;  // same key and value as the mapping's start
            return after_value();
        case Resume::measured: return from_indentation(waiting_indent_);
        case Resume::owed:
            if (owed_ > 0) {
                --owed_;
                event_.kind = Kind::collection_end;
                return true;
            }
            return read_content();
        case Resume::line_start: break;
    }
    return from_indentation(measure_indentation());
}

bool Yaml_Reader::close_one() {
    resume_ = Resume::at_end;
    if (levels_.empty()) {
        event_.kind = Kind::document_end;
    } else {
        levels_.pop_back();
        event_.kind = Kind::collection_end;
    }
    return true;
}

// At a line whose indentation has been consumed.
bool Yaml_Reader::from_indentation(std::int64_t indent) {
    for (;;) {
        if (at_end()) return close_one();
        const char c = text_[pos_];
        if (c == '#') {
            ++pos_;
            event_ = {Kind::comment, {}, rest_of_line()};
            resume_ = Resume::line_start;
            return true;
        }
        if (c != '\r' && c != '\n') break;
        consume_line_end();  // a blank line
        indent = measure_indentation();
    }
    if (levels_.empty()) {
        if (indent != 0) return false;  // the first content line starts the root at column 0
        event_ = {text_[pos_] == '-' ? Kind::sequence_start : Kind::mapping_start, {}, {}};
        push(0);
        resume_ = Resume::owed;
        owed_ = 0;
        return true;
    }
    const std::int64_t top = levels_.back();
    if (indent > top) return false;
    if (indent == top) return read_content();
    event_.kind = Kind::collection_end;
    owed_ = pop_deeper_than(indent) - 1;
    resume_ = Resume::owed;
    return true;
}

// At the first byte of a content line, which belongs to the top level.
bool Yaml_Reader::read_content() {
    const std::int64_t top = levels_.back();
    if (text_[pos_] == '-') {
        ++pos_;
        skip_spaces();
        event_ = {Kind::scalar, {}, {}};
        const std::size_t item_start = pos_;
        const std::string_view key = word();
        if (!key.empty()) {
            skip_spaces();
            if (!at_end() && text_[pos_] == ':') {
                // `- key: value`: a mapping given with its first entry; its
                // further entries stand two columns right of the dash's level.
                ++pos_;
                skip_spaces();
                event_ = {Kind::mapping_start, key, rest_of_line()};
                if (top + 2 > indent_limit) return false;
                push(top + 2);
                resume_ = Resume::first_entry;
                return true;
            }
            pos_ = item_start;  // the word and its spaces are part of the value
        }
        event_.value = rest_of_line();
        return after_value();
    }
    const std::string_view key = word();
    if (key.empty()) return false;
    skip_spaces();
    if (at_end() || text_[pos_] != ':') return false;
    ++pos_;
    skip_spaces();
    event_ = {Kind::scalar, key, rest_of_line()};
    return after_value();
}

// After an entry or item whose line has been consumed: an empty value may open
// a nested block, decided by the next content line.
bool Yaml_Reader::after_value() {
    resume_ = Resume::line_start;
    if (!event_.value.empty()) return true;
    std::int64_t indent;
    for (;;) {
        indent = measure_indentation();
        if (at_end()) {
            resume_ = Resume::at_end;
            return true;
        }
        if (text_[pos_] != '\r' && text_[pos_] != '\n') break;
        consume_line_end();
    }
    const std::int64_t top = levels_.back();
    if (text_[pos_] == '#' || indent == top) {
        resume_ = Resume::measured;
        waiting_indent_ = indent;
        return true;
    }
    resume_ = Resume::owed;
    if (indent > top) {
        if (indent > indent_limit) return false;
        event_.kind = text_[pos_] == '-' ? Kind::sequence_start : Kind::mapping_start;
        push(indent);
        owed_ = 0;
    } else {
        owed_ = pop_deeper_than(indent);
    }
    return true;
}

void Yaml_Reader::push(std::int64_t indent) {
    if (levels_.size() == levels_.capacity()) levels_.reserve(levels_.capacity() * 2);
    levels_.push_back(static_cast<std::int32_t>(indent));
}

std::size_t Yaml_Reader::pop_deeper_than(std::int64_t indent) noexcept {
    std::size_t popped = 0;
    while (!levels_.empty() && levels_.back() > indent) {
        levels_.pop_back();
        ++popped;
    }
    return popped;
}

// --- Lexing; every scan stops at the end of the text ---

void Yaml_Reader::consume_line_end() noexcept {
    if (at_end()) return;
    if (text_[pos_] == '\r') {
        ++pos_;
        if (!at_end() && text_[pos_] == '\n') ++pos_;
    } else if (text_[pos_] == '\n') {
        ++pos_;
    }
}

void Yaml_Reader::skip_spaces() noexcept {
    while (!at_end() && text_[pos_] == ' ') ++pos_;
}

std::int64_t Yaml_Reader::measure_indentation() noexcept {
    line_start_ = pos_;
    std::int64_t indent = 0;
    for (; !at_end(); ++pos_) {
        const char c = text_[pos_];
        if (c == ' ') {
            indent += 1;
        } else if (c == '\t') {
            indent += tab_width;
        } else {
            break;
        }
        if (indent > indent_limit) indent = indent_limit + 1;
    }
    return indent;
}

std::string_view Yaml_Reader::rest_of_line() noexcept {
    const std::size_t start = pos_;
    const std::size_t end = text_.find_first_of("\r\n", start);
    pos_ = end == std::string_view::npos ? text_.size() : end;
    const std::string_view rest = text_.substr(start, pos_ - start);
    consume_line_end();
    return rest;
}

std::string_view Yaml_Reader::word() noexcept {
    const std::size_t start = pos_;
    while (!at_end() && is_word_byte(static_cast<unsigned char>(text_[pos_]), pos_ == start)) ++pos_;
    return text_.substr(start, pos_ - start);
}

}  // namespace kelyaml
