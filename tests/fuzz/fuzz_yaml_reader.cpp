// Feeds arbitrary bytes to the YAML reader: through Yaml_IO as the settings
// loader walks it, event by event, node by node, and back through the writer.
// Anything but a clean read or a Yaml_Error is a fault; so is a read that
// leaves the text, does not end, or reads back differently once written.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>
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

// Like the settings loader, with every field kind and bounded nesting.
void walk(Yaml_IO& io, int depth) {
    io.mapping([&] {
        std::tuple<std::string_view, std::int32_t, std::uint32_t, bool, char32_t, std::uint8_t> fields;
        auto& [text, number, mask, flag, mark, level] = fields;
        std::vector<std::string_view> items;
        io.field("uri", text), io.field("i", number), io.field("u", mask), io.field("b", flag);
        io.field("c", mark), io.field("y", level);
        io.sequence("list", Array_Access::of(items), [&](std::size_t i) { io.item(items[i]); });
        io.sequence("filter", Array_Access::of(items), [&](std::size_t i) {
            check(i + 1 == items.size());
            io.mapping([&] { io.field("uri", items[i]), io.field("search", items[i]); });
        });
        if (depth < 6) walk(io, depth + 1);
    });
}

// A reader's message: one of four texts, then a line the text has, all of it UTF-8 whatever the document holds.
void check_error(const Yaml_Error& e, std::string_view text) {
    const std::string& m = e.message();
    const auto at = m.find(" at line ");
    const std::string what = m.substr(0, at);
    check(what == "YAML Initialization Error" || what == "YAML Type Error" || what == "YAML Error" ||
          what == "YAML Structure Error");
    for (std::size_t i = 0, n; i < m.size(); i += n)
        check((n = yaml_utf8(yaml_first_code_point(std::string_view(m).substr(i)).value_or(0xD800)).size()) > 0);
    // At most one line per line-break byte (CR LF counts twice: a bound, not the count).
    const long line = std::strtol(m.c_str() + at + 9, nullptr, 10);
    check(line >= 1 && line <= 1 + std::ranges::count(text, '\n') + std::ranges::count(text, '\r'));
}

// Every event up to document_end as one string, collection starts reduced to what the writer keeps. Each event
// also goes to `writer`; false on a Yaml_Error of the reader or when the writer refuses an event (an item inside
// a mapping, a key inside a sequence).
bool events(std::string_view type, std::string_view text, std::string& out, Yaml_Writer* writer) {
    const auto inside = [&](std::string_view v) {
        return v.empty() || (v.data() >= text.data() && v.data() + v.size() <= text.data() + text.size());
    };
    bool ok = true;
    try {
        Yaml_Reader reader(type, text);
        std::vector<Kind> open;
        for (std::size_t count = 0;; reader.next()) {
            Yaml_Event e = reader.event();
            check(inside(e.key) && inside(e.value) && ++count <= 3 * text.size() + 4);
            if (e.kind == Kind::mapping_start || e.kind == Kind::sequence_start) {
                if (open.empty() || open.back() == Kind::sequence_start) e.key = {};
                e.value = {}, open.push_back(e.kind);
            } else {
                check(e.kind == Kind::collection_end ? !open.empty() : e.kind != Kind::document_end || open.empty());
                if (e.kind == Kind::collection_end) open.pop_back();
            }
            out.append(1, static_cast<char>(e.kind)).append(e.key).append("\x01").append(e.value) += '\x02';
            try {
                if (writer) writer->emit(e);
            } catch (const Yaml_Error& refused) {
                check(refused.message() == "YAML Output Error");
                writer = nullptr, ok = false;
            }
            if (e.kind == Kind::document_end) break;
        }
        reader.next(), reader.skip();
        check(reader.event().kind == Kind::document_end);
        return ok;
    } catch (const Yaml_Error& e) {
        check_error(e, text);
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
        check_error(e, text);
        if (!e.message().starts_with("YAML Type Error")) return 0;
        type = "";
    }
    try {
        Yaml_Reader reader(type, text);
        walk(reader, 0);
    } catch (const Yaml_Error& e) {
        check_error(e, text);
    }
    std::string first, second;
    Yaml_Writer writer(type);
    // A first key that starts with U+FEFF is written byte for byte and then read as the byte-order mark.
    if (!events(type, text, first, &writer) || writer.text().starts_with("\xEF\xBB\xBF")) return 0;
    const std::string copy(writer.text());
    check(events(type, copy, second, nullptr) && first == second);
    return 0;
}
