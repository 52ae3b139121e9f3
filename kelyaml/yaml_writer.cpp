#include "kelyaml/yaml_writer.hpp"

#include <new>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_scalar.hpp"

namespace kelyaml {

namespace {

using Kind = Yaml_Event_Kind;

constexpr std::size_t initial_buffer = 4096;
constexpr std::size_t initial_levels = 16;

[[noreturn]] void output_error() { throw Yaml_Error("YAML Output Error"); }

}  // namespace

Yaml_Writer::Yaml_Writer(std::string_view type) {
    try {
        buffer_.reserve(initial_buffer);
        open_.reserve(initial_levels);
        if (!type.empty()) {
            write("--- !");
            write(type);
            write("\r\n\r\n");
        }
    } catch (const std::bad_alloc&) {
        throw Yaml_Error("YAML Writer Initialization Error");
    }
}

Yaml_Writer::~Yaml_Writer() = default;

void Yaml_Writer::emit(const Yaml_Event& event) {
    try {
        switch (event.kind) {
            case Kind::document_end: return;
            case Kind::mapping_start:
            case Kind::sequence_start:
                if (!open_.empty()) {
                    // Inside a mapping a collection needs a key, as an entry does:
                    // a bare ":" line would be unreadable.
                    if (open_.back() == Kind::mapping_start && event.key.empty()) output_error();
                    indent();
                    if (open_.back() == Kind::mapping_start) {
                        write(event.key);
                        write(":\r\n");
                    } else {
                        write("-\r\n");
                    }
                }
                push(event.kind);
                return;
            case Kind::collection_end:
                if (open_.empty()) output_error();
                open_.pop_back();
                return;
            case Kind::scalar:
                if (open_.empty()) output_error();
                if (!event.key.empty()) {
                    if (open_.back() != Kind::mapping_start) output_error();
                    indent();
                    write(event.key);
                    write(": ");
                } else {
                    if (open_.back() != Kind::sequence_start) output_error();
                    indent();
                    write("- ");
                }
                write(event.value);
                write("\r\n");
                return;
            case Kind::comment:
                write("#");
                write(event.value);
                write("\r\n");
                return;
            case Kind::none: break;
        }
    } catch (const std::bad_alloc&) {
        output_error();
    }
    output_error();  // a kind outside the table
}

void Yaml_Writer::entry(std::string_view key, std::string_view value) { emit({Kind::scalar, key, value}); }
void Yaml_Writer::begin_sequence(std::string_view key) { emit({Kind::sequence_start, key, {}}); }
void Yaml_Writer::begin_mapping(std::string_view key) { emit({Kind::mapping_start, key, {}}); }
void Yaml_Writer::end() { emit({Kind::collection_end, {}, {}}); }
std::string_view Yaml_Writer::text() const { return buffer_; }

// Children of the root stand at column 0.
void Yaml_Writer::indent() {
    for (std::size_t i = 1; i < open_.size(); ++i) write("\t");
}

void Yaml_Writer::write(std::string_view bytes) {
    const std::size_t needed = buffer_.size() + bytes.size();
    if (needed > buffer_.capacity()) {
        std::size_t capacity = buffer_.capacity() < initial_buffer ? initial_buffer : buffer_.capacity();
        while (capacity < needed) capacity *= 2;
        buffer_.reserve(capacity);
    }
    buffer_.append(bytes);
}

void Yaml_Writer::push(Kind kind) {
    if (open_.size() == open_.capacity()) open_.reserve(open_.capacity() * 2);
    open_.push_back(kind);
}

// --- Yaml_IO ---

void Yaml_Writer::field(std::string_view key, std::string_view& target) { entry(key, target); }

void Yaml_Writer::field(std::string_view key, char32_t& target) {
    const std::string text = yaml_utf8(target);
    if (text.empty()) output_error();  // not a code point UTF-8 can carry
    entry(key, text);
}

void Yaml_Writer::field(std::string_view key, std::int32_t& target) { entry(key, std::to_string(target)); }
void Yaml_Writer::field(std::string_view key, std::uint32_t& target) { entry(key, std::to_string(target)); }
void Yaml_Writer::field(std::string_view key, bool& target) { entry(key, target ? "true" : "false"); }
void Yaml_Writer::field(std::string_view key, std::uint8_t& target) { entry(key, std::to_string(unsigned{target})); }

void Yaml_Writer::sequence(std::string_view key, const Array_Access& access, const Yaml_Element_Handler& handler) {
    begin_sequence(key);
    const std::size_t length = access.get_length(access.array);
    for (std::size_t i = 0; i < length; ++i) handler(i);
    end();
}

void Yaml_Writer::item(std::string_view& target) { entry({}, target); }

void Yaml_Writer::mapping(const Yaml_Entry_Handler& handler) {
    begin_mapping({});  // fails inside a mapping, where it would need a key
    handler();
    end();
}

}  // namespace kelyaml
