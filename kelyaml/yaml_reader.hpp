#pragma once
// Pull parser for the line-oriented YAML subset of setting.yaml: an optional
// "--- !type" header, block mappings and sequences nested by indentation, and
// values taken verbatim to the end of their line. Keys and values are views
// into the document text, which the caller keeps alive for as long as it uses
// the reader or anything it handed out.
//
// Every failure throws Yaml_Error. Its message is one of "YAML
// Initialization Error", "YAML Type Error", "YAML Error" and "YAML Structure
// Error", followed by where: ` at line N: "<the line>"`. N counts from 1 (CR
// LF, CR and LF each end a line); the line is quoted as it stands, control
// bytes and bytes that are not UTF-8 shown as "?", and cut with "…" after
// ERROR_LINE_BYTES bytes. It is the line being read when the failure was
// found; for a broken header or a type other than the expected one, line 1.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "kelyaml/yaml_event.hpp"
#include "kelyaml/yaml_io.hpp"

namespace kelyaml {

// How much of the failing line an error message quotes.
constexpr std::size_t ERROR_LINE_BYTES = 60;

class Yaml_Error;

class Yaml_Reader : public Yaml_IO {
public:
    // Positions the reader on the first event. Throws Yaml_Error "YAML
    // Initialization Error" for a broken header or first line, and "YAML Type
    // Error" when the document's type is not `expected_type` (no header: "").
    Yaml_Reader(std::string_view expected_type, std::string_view text);
    Yaml_Reader(const Yaml_Reader&) = delete;
    Yaml_Reader& operator=(const Yaml_Reader&) = delete;
    ~Yaml_Reader() override;

    // One event further; throws "YAML Error". After a failure the reader stays failed.
    virtual void next();
    // Past the current node, its whole subtree included; throws "YAML Structure Error".
    virtual void skip();
    virtual const Yaml_Event& event() const;
    // Key and value as of the last `next` or `skip` (empty before the first).
    virtual std::string_view key() const;
    virtual std::string_view value() const;

    // Each assigns only when `key` equals the current key; none advances.
    void field(std::string_view key, std::string_view& target) override;
    // Throws "YAML Type Error" when the value is empty or does not start with valid UTF-8.
    void field(std::string_view key, char32_t& target) override;
    void field(std::string_view key, std::int32_t& target) override;
    void field(std::string_view key, std::uint32_t& target) override;
    void field(std::string_view key, bool& target) override;
    void field(std::string_view key, std::uint8_t& target) override;
    // When the current event is a sequence keyed `key`: length 0, then for each
    // element length i + 1 and handler(i). Returns on the sequence's end.
    void sequence(std::string_view key, const Array_Access& access, const Yaml_Element_Handler& handler) override;
    void item(std::string_view& target) override;
    // When the current event starts a mapping: handler() once per child, the
    // reader standing on it. Returns on the mapping's end.
    void mapping(const Yaml_Entry_Handler& handler) override;

private:
    enum class Resume {
        at_end,       // the text is consumed: close what is open, then document_end
        line_start,   // at the first byte of a line
        first_entry,  // the first entry of a mapping opened by `- key: value`
        measured,     // after the indentation (`waiting_indent_`) of a line
        owed,         // `owed_` collection ends still due, then the waiting line's content
    };

    // One event further; false when the text breaks the syntax. Never throws.
    bool advance() noexcept;
    bool step();
    bool skip_node() noexcept;
    bool from_indentation(std::int64_t indent);
    bool read_content();
    bool after_value();
    bool close_one();
    void push(std::int64_t indent);
    std::size_t pop_deeper_than(std::int64_t indent) noexcept;
    void copy_event() noexcept;
    // The error `what`, at the line that starts at `line_start`; error() at
    // the line being read.
    Yaml_Error error_at(const char* what, std::size_t line_start) const;
    Yaml_Error error(const char* what) const;
    // The start of the line `part` (a view into the text) stands in.
    std::size_t line_of(std::string_view part) const noexcept;

    bool at_end() const noexcept { return pos_ == text_.size(); }
    bool at_line_end() const noexcept { return at_end() || text_[pos_] == '\r' || text_[pos_] == '\n'; }
    void consume_line_end() noexcept;
    void skip_spaces() noexcept;
    std::int64_t measure_indentation() noexcept;
    std::string_view rest_of_line() noexcept;
    std::string_view word() noexcept;

    // Parser state.
    Yaml_Event event_;
    std::size_t pos_ = 0;
    std::size_t first_line_ = 0;        // after a byte-order mark
    std::size_t line_start_ = 0;        // of the line last measured: where a failure is reported
    std::vector<std::int32_t> levels_;  // indentation of each open collection
    Resume resume_ = Resume::line_start;
    std::int64_t waiting_indent_ = 0;
    std::size_t owed_ = 0;
    bool failed_ = false;

    std::string_view text_;
    std::string_view key_;
    std::string_view value_;
};

}  // namespace kelyaml
