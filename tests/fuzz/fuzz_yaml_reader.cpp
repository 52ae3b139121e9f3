// Feeds arbitrary bytes to the YAML reader: through Yaml_IO as the settings
// loader walks it, event by event, node by node, and back through the writer.
// Anything but a clean read or a Yaml_Error is a fault; so is a read that
// leaves the text, does not end, or reads back differently once written.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_reader.hpp"
#include "kelyaml/yaml_scalar.hpp"
#include "kelyaml/yaml_writer.hpp"

using kelyaml::Array_Access;
using kelyaml::Yaml_Error;
using kelyaml::Yaml_Event;
using kelyaml::Yaml_Event_Kind;
using kelyaml::yaml_first_code_point;
using kelyaml::Yaml_IO;
using kelyaml::Yaml_Reader;
using kelyaml::yaml_utf8;
using kelyaml::Yaml_Writer;

namespace {

using Kind = Yaml_Event_Kind;

void check(bool condition) {
    if (!condition) std::abort();
}

struct Record {
    std::string_view uri, search, replace, text;
    std::int32_t number = 0;
    std::uint32_t mask = 0;
    bool flag = false;
    char32_t mark = 0;
    std::uint8_t level = 0;
    std::vector<std::string_view> items;
};

// A description like the settings loader's, plus every field kind and some
// nesting (bounded, so the driver's own recursion stays small).
void walk(Yaml_IO& io, std::vector<Record>& records, int depth) {
    io.mapping([&] {
        Record r;
        io.field("uri", r.uri);
        io.field("text", r.text);
        io.field("i", r.number);
        io.field("u", r.mask);
        io.field("b", r.flag);
        io.field("c", r.mark);
        io.field("y", r.level);
        io.sequence("list", Array_Access::of(r.items), [&](std::size_t i) { io.item(r.items[i]); });
        std::vector<Record> rules;
        io.sequence("filter", Array_Access::of(rules), [&](std::size_t i) {
            check(i + 1 == rules.size());
            Record& rule = rules[i];
            io.mapping([&] {
                io.field("uri", rule.uri);
                io.field("search", rule.search);
                io.field("replace", rule.replace);
            });
        });
        if (depth < 6) walk(io, records, depth + 1);
        records.push_back(r);
    });
}

// A reader's message: one of the four texts, then where, all of it UTF-8
// (whatever bytes the document holds), on a line the text has.
void check_reader_error(const Yaml_Error& e, std::string_view text) {
    const std::string& message = e.message();
    bool known = false;
    for (std::string_view what : {"YAML Initialization Error", "YAML Type Error", "YAML Error", "YAML Structure Error"})
        known = known || message.starts_with(std::string(what) + " at line ");
    check(known);
    for (std::size_t i = 0; i < message.size();) {
        const auto code = yaml_first_code_point(std::string_view(message).substr(i));
        check(code.has_value());
        i += yaml_utf8(*code).size();
    }
    const std::size_t line = std::strtoul(message.c_str() + message.find(" at line ") + 9, nullptr, 10);
    std::size_t lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i)
        lines += text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    check(line >= 1 && line <= lines);
}

bool inside(std::string_view part, std::string_view text) {
    return part.empty() || (part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size());
}

// Every event up to document_end as one string, collection starts reduced to
// what the writer keeps; false on a Yaml_Error of the reader. Each event also
// goes to `writer` until it refuses one (then `writer` becomes null).
bool events(std::string_view type, std::string_view text, std::string& out, Yaml_Writer*& writer) {
    try {
        Yaml_Reader reader(type, text);
        std::vector<Kind> open;
        std::size_t count = 0;
        for (;; reader.next()) {
            Yaml_Event e = reader.event();
            check(inside(e.key, text) && inside(e.value, text));
            check(++count <= 3 * text.size() + 4);
            if (e.kind == Kind::mapping_start || e.kind == Kind::sequence_start) {
                if (open.empty() || open.back() == Kind::sequence_start) e.key = {};
                e.value = {};
                open.push_back(e.kind);
            } else if (e.kind == Kind::collection_end) {
                check(!open.empty());
                open.pop_back();
            } else if (e.kind == Kind::document_end) {
                check(open.empty());
            } else {
                check(e.kind == Kind::scalar || e.kind == Kind::comment);
            }
            out += std::to_string(static_cast<int>(e.kind));
            out += '\x01';
            out.append(e.key);
            out += '\x01';
            out.append(e.value);
            out += '\x02';
            if (writer) {
                try {
                    writer->emit(e);
                } catch (const Yaml_Error& refused) {
                    check(refused.message() == "YAML Output Error");
                    writer = nullptr;  // an item inside a mapping, a key inside a sequence
                }
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

void skip_through(std::string_view type, std::string_view text) {
    try {
        Yaml_Reader reader(type, text);
        for (std::size_t count = 0; reader.event().kind != Kind::document_end; ++count) {
            check(count <= 3 * text.size() + 4);
            reader.skip();
        }
    } catch (const Yaml_Error& e) {
        check_reader_error(e, text);
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
        std::vector<Record> records;
        walk(reader, records, 0);
    } catch (const Yaml_Error& e) {
        check_reader_error(e, text);
    }
    skip_through(type, text);

    std::string first;
    Yaml_Writer writer(type);
    Yaml_Writer* sink = &writer;
    if (!events(type, text, first, sink) || !sink) return 0;
    std::string second;
    const std::string copy(writer.text());
    // A first key that starts with U+FEFF is written byte for byte and then
    // read as the byte-order mark; no other difference is allowed.
    if (copy.starts_with("\xEF\xBB\xBF")) return 0;
    Yaml_Writer* none = nullptr;
    check(events(type, copy, second, none));
    check(first == second);
    return 0;
}
