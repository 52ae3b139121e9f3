// The reader as tables of documents and the events they give, Yaml_IO walks
// over them, the writer and its round trip through the reader, and scalars.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_reader.hpp"
#include "kelyaml/yaml_scalar.hpp"
#include "kelyaml/yaml_writer.hpp"

using namespace kelyaml;
using Kind = Yaml_Event_Kind;

namespace {

// An event as a short string:  {key=value mapping_start  [key sequence_start  } collection_end
//                              key=value scalar          #text comment          $ document_end
std::string describe(const Yaml_Event& e) {
    const std::string key(e.key), value(e.value);
    const std::string kinds[] = {
        "?", "$", "{" + key + (value.empty() ? "" : "=" + value), "[" + key, "}", key + "=" + value, "#" + value};
    return kinds[static_cast<int>(e.kind)];
}

// A reader's message with its kind as one letter: "I2 \"line\"" for "YAML Initialization Error at line 2: \"line\"";
// T type, E plain, S structure.
std::string brief(std::string message) {
    for (const char* kind : {"Initialization", "Type", "Structure", ""}) {
        const std::string full = std::string("YAML ") + kind + (*kind ? " " : "") + "Error at line ";
        if (message.starts_with(full)) return (*kind ? kind[0] : 'E') + message.substr(full.size()).replace(1, 1, "");
    }
    return message;
}

// Events up to document_end joined by "|", ending in "!" and the brief message when the reader throws.
std::string read_events(std::string_view text, std::string_view type = "") {
    std::string out;
    try {
        Yaml_Reader reader(type, text);
        for (int guard = 0; guard < 1000000; ++guard, reader.next()) {
            out += describe(reader.event());
            if (reader.event().kind == Kind::document_end) return out;
            out += "|";
        }
        return out + "<no end>";
    } catch (const Yaml_Error& e) {
        return out + "!" + brief(e.message());
    }
}

std::string error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Yaml_Error& e) {
        return e.message();
    }
    return "(none)";
}

TEST(YamlReader, Events) {
    const std::string cut(ERROR_LINE_BYTES - 1, ' '), xs(ERROR_LINE_BYTES - 1, 'x'), long_key(70, 'k'), pad(255, ' '),
        tabs(1 << 20, '\t');
    const struct {
        std::string text, events;
        const char* type = "";
    } cases[][4] = {
        {{"a:b\nc : d\ne:   f\ng: a # b \nh:\t'q' \n", "{|a=b|c=d|e=f|g=a # b |h=\t'q' |}|$"}},
        {{"- abc:def\n- abc def\n- 'x'\n-abc: 1\n- abc  def \n- -x\n",
          "[|{abc=def|abc=def|}|=abc def|='x'|{abc=1|abc=1|}|=abc  def |=-x|}|$"}},
        {{"Az09_a-Z*+\xC3\xA9: 1\n", "{|Az09_a-Z*+\xC3\xA9=1|}|$"}, {"a:\nb: 1", "{|a=|b=1|}|$"}},
        {{"a:\n  b:\n    - x\n    - y\n  c: 1\nd:\n  e: 2\n", "{|{a|[b|=x|=y|}|c=1|}|{d|e=2|}|}|$"}},
        {{"- a: 1\n  b: 2\n- c: 3\n", "[|{a=1|a=1|b=2|}|{c=3|c=3|}|}|$"}, {"- a:\n  - x\n", "[|{a|a=|=x|}|}|$"}},
        {{"- a: 1\n   b: 2\n", "[|{a=1|a=1|!E2 \"   b: 2\""}, {"- a:\n    b: 1\n", "[|{a|{a|b=1|}|}|}|$"}},
        {{"a:\n\tb: 1\n" + pad + " c: 2\nd: 3\n", "{|{a|b=1|c=2|}|d=3|}|$"}},
        {{"a:\n" + pad + "b: 1\n\tc: 2\n", "{|{a|b=1|!E3 \"\tc: 2\""}},
        {{"a:\n\tb: 1\n" + pad + "c: 2\n", "{|{a|b=1|}|c=2|}|$"}, {"a:\n#c\nb: 1\n", "{|a=|#c|b=1|}|$"}},
        {{"a:\n    b: 1\n  c: 2\n  d: 3\n", "{|{a|b=1|}|c=2|!E4 \"  d: 3\""}, {"# c\nk: v\n", "# c|{|k=v|}|$"}},
        {{"a:\n  b: 1\n        # deep\n# shallow\n  c: 2\n", "{|{a|b=1|# deep|# shallow|c=2|}|}|$"}},
        {{"filter:\n# c\n  - uri: a\n", "{|filter=|# c|!E3 \"  - uri: a\""}, {"- ", "[|=|}|$"}, {"", "$"}},
        {{"\n  \na:\n\n \t \n  b: 1\n\n\n", "{|{a|b=1|}|}|$"}, {"- x\r\n#y\r\n- z\r\n", "[|=x|#y|=z|}|$"}},
        {{"a:\r  b: 1\r\n  c: 2\nd: 3\r", "{|{a|b=1|c=2|}|d=3|}|$"}, {"- a\n- b", "[|=a|=b|}|$"}, {"a:", "{|a=|}|$"}},
        {{"- x\na: 1\nb: 2\n- y\n", "[|=x|a=1|b=2|=y|}|$"},
         {"- a:   ", "[|{a|a=|}|}|$"},
         {"\n \r\n# x\n\t\n", "# x|$"}},
        {{"\xEF\xBB\xBFk: v", "{|k=v|}|$"}, {"  a: 1\n", "!I1 \"  a: 1\""}, {"a: 1\n  b: 2\n", "{|a=1|!E2 \"  b: 2\""}},
        {{"a: 1\n: x\n", "{|a=1|!E2 \": x\""}, {"a: 1\nb", "{|a=1|!E2 \"b\""}, {"a:\n  b:\nc: 1", "{|{a|b=|}|c=1|}|$"}},
        // Which line an error names, and how it shows the line.
        {{"a: 1\n\n# c\n   \n  b: 2\n", "{|a=1|# c|!E5 \"  b: 2\""},
         {"a: 1\r\n\r\n  b: 2\r\n", "{|a=1|!E3 \"  b: 2\""}},
        {{"a: 1\r\r  b: 2\r", "{|a=1|!E3 \"  b: 2\""}, {"a: 1\n\r  b: 2", "{|a=1|!E3 \"  b: 2\""}},
        {{"a:\n\nb c: 1\n", "{|a=|!E3 \"b c: 1\""}, {"a:\n  b:\n    c: 1\nd e: 2\n", "{|{a|{b|c=1|}|}|!E4 \"d e: 2\""}},
        {{"a: 1\n " + xs + "\n", "{|a=1|!E2 \" " + xs + "\""}},
        {{long_key + " x: 1\n", "{|!E1 \"" + long_key.substr(0, ERROR_LINE_BYTES) + "…\""}},
        // A megabyte of indentation is a blank line, then deeper than any level.
        {{tabs + "\na: 1\n" + tabs + "b: 2", "{|a=1|!E3 \"" + std::string(ERROR_LINE_BYTES, '\t') + "…\""}},
        {{"a: 1\n" + cut + "\xE6\x97\xA5: 2\n", "{|a=1|!E2 \"" + cut + "…\""}},
        {{std::string("a: 1\n  \x7F\x80\xC3(\xE6\x97\xA5\x00\x01: 2", 19),
          "{|a=1|!E2 \"  ??"
          "?(\xE6\x97\xA5??: 2\""}},
        // The header and the type.
        {{"--- !zib\r\nk: v\n", "{|k=v|}|$", "zib"}, {"---   !   zib   \n", "$", "zib"}},
        {{"\xEF\xBB\xBF--- !zib\nk: v\n", "{|k=v|}|$", "zib"}, {"--- !zib", "!I1 \"--- !zib\"", "zib"}},
        {{"---\nk: v\n", "!I1 \"---\"", "zib"}, {"--- !\n", "!I1 \"--- !\""}, {"--- !zib\n", "!T1 \"--- !zib\""}},
        {{"--- !zib extra\n", "!I1 \"--- !zib extra\"", "zib"}, {"--- !zib\n  k: v\n", "!I2 \"  k: v\"", "other"}},
        {{"k: v\n", "!T1 \"k: v\"", "zib"}, {"# c\n--- !zib\n", "!T1 \"# c\"", "zib"}},
        {{"\xEF\xBB\xBF--- !zab\nk: v\n", "!T1 \"--- !zab\"", "zib"}},
        {{"\xEF\xBB\xBF\xEF\xBB\xBF--- !zib\n", "!T1 \"\xEF\xBB\xBF--- !zib\"", "zib"}}};
    for (const auto& line : cases)
        for (const auto& c : line) EXPECT_EQ(c.events.empty() ? "" : read_events(c.text, c.type), c.events) << c.text;
    // Ten thousand levels are read, and skipped as the root's subtree, without recursion.
    std::string deep;
    for (std::size_t i = 0; i < 10000; ++i) deep += std::string(i, ' ') + "k:\n";
    const std::string events = read_events(deep + std::string(10000, ' ') + "- leaf\n");
    EXPECT_EQ(std::ranges::count(events, '{'), 10000);
    EXPECT_EQ(std::ranges::count(events, '}'), 10001);  // the innermost sequence closes too
    Yaml_Reader root("", deep);
    root.skip();
    EXPECT_EQ(root.event().kind, Kind::document_end);
}

// Skipping a block correctly is proved by the settings rows with unknown keys.
TEST(YamlReader, ErrorsStickAndRunawayHandler) {
    // A broken line met by skip is a structure error, and the reader keeps failing instead of guessing.
    // The second skip fails on its first step.
    for (auto [text, error] :
         {std::pair{"a:\n  b: 1\n   c: 2\nd: 3\n", "S3 \"   c: 2\""}, {"a:\n  b\n", "S2 \"  b\""}}) {
        Yaml_Reader broken("", text);
        broken.next();
        EXPECT_EQ(brief(error_of([&] { broken.skip(); })), error);
        EXPECT_THROW(broken.next(), Yaml_Error);
        EXPECT_THROW(broken.skip(), Yaml_Error);
    }
    // A Yaml_IO handler that runs past the end is stopped.
    Yaml_Reader runaway("", "a: 1\nb: 2\n");
    int calls = 0;
    const auto run = [&] { ++calls, runaway.next(), runaway.next(), runaway.next(), runaway.next(); };
    EXPECT_EQ(error_of([&] { runaway.mapping(run); }), "YAML Structure Error at line 3: \"\"");
    EXPECT_EQ(calls, 1);
}

// A rule with a field of every kind; the sequence adds rules as they are constructed here.
struct Rule {
    std::string_view uri, search, replace;
    std::int32_t weight = 0;
    std::uint32_t mask = 0;
    bool enabled = false;
    char32_t mark = U'-';
    std::uint8_t level = 0;
    std::vector<std::string_view> tags;
};

// One description of the settings, for reading and for writing: root mapping, "filter" sequence of mappings.
void describe_rules(Yaml_IO& io, std::vector<Rule>& rules) {
    io.mapping([&] {
        io.sequence("filter", Array_Access::of(rules), [&](std::size_t i) {
            auto& [uri, search, replace, weight, mask, enabled, mark, level, tags] = rules[i];
            io.mapping([&] {
                io.field("uri", uri), io.field("search", search), io.field("replace", replace);
                io.field("weight", weight), io.field("mask", mask), io.field("enabled", enabled);
                io.field("mark", mark), io.field("level", level);
                io.sequence("tags", Array_Access::of(tags), [&](std::size_t t) { io.item(tags[t]); });
            });
        });
    });
}

// The rules read from `text` over one old rule, as "uri,search,replace,weight,mask,enabled,mark,level,tags;"
// each, or "!message".
std::string read_rules(std::string_view text) {
    std::vector<Rule> rules{{"old", "old", "old", 0, 0, false, U'-', 0, {}}};
    const std::string error = error_of([&] {
        Yaml_Reader reader("zib", text);
        describe_rules(reader, rules);
    });
    if (error != "(none)") return "!" + brief(error);
    std::ostringstream out;
    for (const auto& [uri, search, replace, weight, mask, enabled, mark, level, tags] : rules) {
        out << uri << ',' << search << ',' << replace << ',' << weight << ',' << mask << ',' << enabled << ','
            << std::uint32_t(mark) << ',' << +level << ',';
        for (auto tag : tags) out << tag << ' ';
        out << ';';
    }
    return out.str();
}

TEST(YamlIO, ReadsInAnyOrderSkipsUnknownKeysAndLastWins) {
    const std::string old = "old,old,old,0,0,0,45,0,;", empty = ",,,0,0,0,45,0,;";
    const struct {
        const char* text = nullptr;
        std::string rules;
    } cases[][2] = {
        {{"--- !zib\nbefore: 1\nunknown:\n  filter:\n    - uri: no\nfilter:\n  - uri: a\n    search: b\n    replace: "
          "c\n"
          "  - replace: z\n    extra:\n      - deep\n      - deeper:\n          x: 1\n    uri: y\n    # a comment\n"
          "  - search: only\n    Uri: case matters\nafter: 2\n",
          "a,b,c,0,0,0,45,0,;y,,z,0,0,0,45,0,;,only,,0,0,0,45,0,;"}},
        // The sequence empties the array; a key twice: the later value; an item that is not a mapping: empty.
        {{"--- !zib\nfilter:\n  - uri: 1\nfilter:\n  - uri: a\n    uri: b\n  - x\n", "b,,,0,0,0,45,0,;" + empty}},
        {{"--- !zib\nfilter:\n  - weight: -7\n    mask: 0x1F\n    enabled: no\n    mark: \xC3\xBC\xC3\xA9\n"
          "    level: 300\n    tags:\n      - a\n      # note\n      - b\n",
          ",,,-7,31,0,252,44,a  note b ;"}},
        // No "filter" sequence at all: the rules stay as they were (more in tests/program/rule_set_test.cpp).
        {{"--- !zib\n- uri: q\n", old}, {"--- !zib\n# first\nfilter:\n  - uri: q\n", old}},
        // A character field needs a valid first code point; the error names the entry's line.
        {{"--- !zib\nfilter:\n  - mark:\n", "!T3 \"  - mark:\""},
         {"--- !zib\r\n\r\nfilter:\n  - mark: \xC3\n", "!T4 \"  - mark: ?\""}},
        // Entering a broken block is a next(); moving between children is a skip().
        {{"--- !zib\nfilter:\n  - uri: a\n     search: b\n", "!S4 \"     search: b\""}},
        {{"--- !zib\nfilter:\n# c\n  - uri: a\n", "!S4 \"  - uri: a\""}},
        {{"--- !zib\nfilter:\n  - uri: a\n  - uri: b\n    search: c\n     x: 1\n", "!S6 \"     x: 1\""}}};
    for (const auto& line : cases)
        for (const auto& c : line) EXPECT_EQ(c.text ? read_rules(c.text) : "", c.rules) << c.text;
}

// Each letter one call: m and s begin a mapping or a sequence without key, e ends one, k writes an entry with a
// key, i one without; M is Yaml_IO's mapping, c a character field holding a surrogate.
TEST(YamlWriter, OutputErrors) {
    for (std::string_view calls : {"e", "k", "i", "mi", "sk", "mm", "ms", "mee", "mM", "mc"}) {
        Yaml_Writer w("");
        char32_t surrogate = 0xD800;
        const auto act = [&](char c) {
            switch (c) {
                case 'm': return w.begin_mapping("");
                case 's': return w.begin_sequence("");
                case 'e': return w.end();
                case 'k': return w.entry("k", "v");
                case 'i': return w.entry("", "v");
                case 'M': return w.mapping([] {});
                default: return w.field("c", surrogate);
            }
        };
        EXPECT_EQ(error_of([&] { std::ranges::for_each(calls, act); }), "YAML Output Error") << calls;
        EXPECT_EQ(w.text(), "");
    }
}

// What the reader reads, written again: tabs, CRLF, and without what the writer does not write (keys of
// collections inside sequences, values of collection starts).
TEST(YamlWriter, RoundTrips) {
    std::string list = "--- !t\r\n\r\n";  // past the writer's first buffer
    for (int i = 0; i < 2000; ++i) list += "- " + std::to_string(i) + "\r\n";
    const std::string written[][2] = {
        {"# lead\nroot:\n  - plain\n  - 'quoted' # x \n  -\n    - nested\n  - k: v\n    m:\n      deep: 1\n"
         "  # between\n  - last\ntail: \t\n",
         "# lead\r\nroot:\r\n\t- plain\r\n\t- 'quoted' # x \r\n\t-\r\n\t\t- nested\r\n\t-\r\n\t\tk: v\r\n\t\tm:\r\n"
         "\t\t\tdeep: 1\r\n# between\r\n\t- last\r\ntail: \t\r\n"},
        {"- a\n- b:\n    - c\n-\n  x: 1\n", "- a\r\n-\r\n\tb:\r\n\t\t- c\r\n-\r\n\tx: 1\r\n"},
        {list, list}};
    for (const auto& [document, want] : written) {
        const std::string type = document.starts_with("--- !t") ? "t" : "";
        Yaml_Reader reader(type, document);
        Yaml_Writer writer(type);
        std::vector<Kind> open;
        for (;; reader.next()) {
            Yaml_Event e = reader.event();
            if (e.kind == Kind::mapping_start || e.kind == Kind::sequence_start) {
                if (open.empty() || open.back() == Kind::sequence_start) e.key = {};
                e.value = {}, open.push_back(e.kind);
            }
            if (e.kind == Kind::collection_end) open.pop_back();
            writer.emit(e);
            if (e.kind == Kind::document_end) break;
        }
        EXPECT_EQ(writer.text(), want) << document;
    }
    // Through Yaml_IO: one description writes and reads every field kind.
    std::vector<Rule> rules = {{"http://a/.*", "<b>", "", -5, 0xFFFFFFFFu, true, U'\u3042', 200, {"x", "y z"}},
                               {"u", "s", "r # kept", 7, 8, false, U'A', 0, {"only"}}};
    Yaml_Writer writer("zib");
    describe_rules(writer, rules);
    EXPECT_EQ(read_rules(writer.text()),
              "http://a/.*,<b>,,-5,4294967295,1,12354,200,x y z ;u,s,r # kept,7,8,0,65,0,only ;");
}

TEST(YamlScalar, Numbers) {
    const std::tuple<std::string, std::int32_t, std::uint32_t> cases[][5] = {
        {{"12abc", 12, 12}, {"-7", -7, 4294967289u}, {"abc", 0, 0}, {"", 0, 0}, {"+42", 42, 42}},
        {{" \t\n\v\f\r 5", 5, 5}, {"- 5", 0, 0}, {"--5", 0, 0}, {"0x10", 0, 16}, {"0X1f", 0, 31}},
        {{"007", 7, 7}, {"010", 10, 8}, {"09", 9, 0}, {"0b101", 0, 5}, {"0B11", 0, 3}},
        {{"0b102", 0, 2}, {"0x", 0, 0}, {"0xg", 0, 0}, {"0", 0, 0}, {"1z", 1, 1}},
        {{"4294967297", 1, 1}, {"-2147483648", -2147483647 - 1, 2147483648u}, {std::string("3\0004", 3), 3, 3}},
        {{"0x123456789", 0, 0x23456789}, {"99999999999999999999", 1661992959, 0xFFFFFFFFu}},
        {{"-9223372036854775808", 0, 0}, {"-9223372036854775807", 1, 1}, {"0x7fffffffffffffffff", 0, 0xFFFFFFFFu}}};
    for (const auto& line : cases)
        for (const auto& [text, decimal, based] : line) {
            EXPECT_EQ(static_cast<std::int32_t>(yaml_decimal(text)), decimal) << text;
            EXPECT_EQ(yaml_based(text), based) << text;
        }
    for (const char* text : {"", "false", "no", "0"}) EXPECT_FALSE(yaml_bool(text)) << text;
    for (const char* text : {"False", "NO", "off", "00", "true", " 0", "no "}) EXPECT_TRUE(yaml_bool(text)) << text;
}

TEST(YamlScalar, Utf8FirstCodePointAndBack) {
    const struct {
        std::string text;
        char32_t code = 0xFFFFFFFF;  // none
    } cases[][5] = {
        {{"A", U'A'}, {"\xC3\xBCx", 0xFC}, {"\xE3\x81\x82", 0x3042}, {"\xF0\x9F\x98\x80", 0x1F600}},
        {{"\xF4\x8F\xBF\xBF", 0x10FFFF}, {"\xC2\x80", 0x80}, {"\xE0\xA0\x80", 0x800}, {"\xF0\x90\x80\x80", 0x10000}},
        {{std::string("\0", 1), 0}, {""}, {"\x80"}, {"\xC3"}, {"\xC3("}},
        {{"\xC1\x81"}, {"\xE0\x80\x80"}, {"\xED\xA0\x80"}, {"\xF4\x90\x80\x80"}, {"\xFF"}}};
    for (const auto& line : cases)
        for (const auto& c : line) {
            const auto code = yaml_first_code_point(c.text);
            EXPECT_EQ(code.value_or(0xFFFFFFFF), c.code) << c.text;
            EXPECT_EQ(code ? yaml_utf8(*code) : "", c.text.substr(0, code ? yaml_utf8(*code).size() : 0));
        }
    EXPECT_EQ(yaml_utf8(0xD800) + yaml_utf8(0x110000), "");
}

}  // namespace
