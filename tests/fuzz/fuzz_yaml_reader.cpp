// Feeds arbitrary bytes to the YAML reader: through Yaml_IO as the settings
// loader walks it, event by event, node by node, and back through the writer.
// Anything but a clean read or a Yaml_Error is a fault; so is a read that
// leaves the text, does not end, or reads back differently once written.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_reader.hpp"
#include "kelyaml/yaml_scalar.hpp"
#include "kelyaml/yaml_writer.hpp"

using namespace kelyaml;
using Kind = Yaml_Event_Kind;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// A description like the settings loader's, with every field kind and some
// nesting (bounded, so the driver's own recursion stays small).
void walk(Yaml_IO& io, int depth) {
    io.mapping([&] {
        std::string_view text;
        std::int32_t number;
        std::uint32_t mask;
        bool flag;
        char32_t mark;
        std::uint8_t level;
        std::vector<std::string_view> items;
        io.field("uri", text), io.field("i", number), io.field("u", mask), io.field("b", flag);
        io.field("c", mark), io.field("y", level);
        io.sequence("list", Array_Access::of(items), [&](std::size_t i) { io.item(items[i]); });
        std::vector<std::string_view> rules;
        io.sequence("filter", Array_Access::of(rules), [&](std::size_t i) {
            check(i + 1 == rules.size());
            io.mapping([&] { io.field("uri", rules[i]), io.field("search", rules[i]); });
        });
        if (depth < 6) walk(io, depth + 1);
    });
}

// A reader's message: one of four texts, then where, all of it UTF-8 (whatever
// bytes the document holds), on a line the text has.
void check_reader_error(const Yaml_Error& e, std::string_view text) {
    const std::string& message = e.message();
    bool known = false;
    for (std::string_view what : {"YAML Initialization Error", "YAML Type Error", "YAML Error", "YAML Structure Error"})
        known = known || message.starts_with(std::string(what) + " at line ");
    check(known);
    for (std::size_t i = 0, n; i < message.size(); i += n) {
        const auto code = yaml_first_code_point(std::string_view(message).substr(i));
        check(code.has_value() && (n = yaml_utf8(*code).size()) > 0);
    }
    std::size_t lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i)
        lines += text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    const std::size_t line = std::strtoul(message.c_str() + message.find(" at line ") + 9, nullptr, 10);
    check(line >= 1 && line <= lines);
}

// Every event up to document_end as one string, collection starts reduced to
// what the writer keeps; false on a Yaml_Error of the reader. With `skip`, only
// walks node by node. Each event also goes to `writer` until it refuses one
// (an item inside a mapping, a key inside a sequence: then `writer` becomes null).
bool events(std::string_view type, std::string_view text, std::string& out, Yaml_Writer*& writer, bool skip = false) {
    const auto inside = [&](std::string_view v) {
        return v.empty() || (v.data() >= text.data() && v.data() + v.size() <= text.data() + text.size());
    };
    try {
        Yaml_Reader reader(type, text);
        std::vector<Kind> open;
        for (std::size_t count = 0;; skip ? reader.skip() : reader.next()) {
            Yaml_Event e = reader.event();
            check(inside(e.key) && inside(e.value) && ++count <= 3 * text.size() + 4);
            if (skip && e.kind != Kind::document_end) continue;
            if (e.kind == Kind::mapping_start || e.kind == Kind::sequence_start) {
                if (open.empty() || open.back() == Kind::sequence_start) e.key = {};
                e.value = {};
                open.push_back(e.kind);
            } else if (e.kind == Kind::collection_end) {
                check(!open.empty());
                open.pop_back();
            } else {
                check(e.kind == Kind::scalar || e.kind == Kind::comment ||
                      (e.kind == Kind::document_end && open.empty()));
            }
            (out += std::to_string(static_cast<int>(e.kind)) + '\x01').append(e.key).append("\x01").append(e.value) +=
                '\x02';
            try {
                if (writer) writer->emit(e);
            } catch (const Yaml_Error& refused) {
                check(refused.message() == "YAML Output Error");
                writer = nullptr;
            }
            if (e.kind == Kind::document_end) break;
        }
        reader.next();
        reader.skip();
        check(reader.event().kind == Kind::document_end);
        return true;
    } catch (const Yaml_Error& e) {
        check_reader_error(e, text);
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so that any read past the text is caught.
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string_view type = "zib";
    try {
        Yaml_Reader probe(type, text);
    } catch (const Yaml_Error& e) {
        check_reader_error(e, text);
        if (!e.message().starts_with("YAML Type Error")) return 0;
        type = "";
    }
    try {
        Yaml_Reader reader(type, text);
        walk(reader, 0);
    } catch (const Yaml_Error& e) {
        check_reader_error(e, text);
    }
    std::string first, second, skipped;
    Yaml_Writer* none = nullptr;
    events(type, text, skipped, none, true);
    Yaml_Writer writer(type);
    Yaml_Writer* sink = &writer;
    if (!events(type, text, first, sink) || !sink) return 0;
    const std::string copy(writer.text());
    // A first key that starts with U+FEFF is written byte for byte and then
    // read as the byte-order mark; no other difference is allowed.
    if (copy.starts_with("\xEF\xBB\xBF")) return 0;
    check(events(type, copy, second, none) && first == second);
    return 0;
}
