#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_reader.hpp"
#include "kelyaml/yaml_writer.hpp"
#include "yaml_events.hpp"

using kelyaml::Array_Access;
using kelyaml::Yaml_Error;
using kelyaml::Yaml_Event;
using kelyaml::Yaml_Event_Kind;
using kelyaml::Yaml_IO;
using kelyaml::Yaml_Reader;
using kelyaml::Yaml_Writer;

namespace {

std::string output_error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Yaml_Error& e) {
        return e.message();
    }
    return "(none)";
}

}  // namespace

TEST(YamlWriter, WorkedExample) {
    Yaml_Writer writer("zib");
    writer.begin_mapping("");
    writer.begin_sequence("filter");
    writer.begin_mapping("");
    writer.entry("uri", "a");
    writer.entry("search", "b");
    writer.end();
    writer.end();
    writer.end();
    EXPECT_EQ(writer.text(), "--- !zib\r\n\r\nfilter:\r\n\t-\r\n\t\turi: a\r\n\t\tsearch: b\r\n");
    // Read back: the same structure.
    EXPECT_EQ(read_events(writer.text(), "zib"), "{|[filter|{|uri=a|search=b|}|}|}|$");
}

TEST(YamlWriter, Forms) {
    Yaml_Writer writer("");
    writer.begin_mapping("ignored");  // the root's key is not written
    writer.entry("k", "v # not a comment ");
    writer.begin_mapping("inner");
    writer.entry("a", "");
    writer.emit({Yaml_Event_Kind::comment, "", " note"});
    writer.begin_sequence("list");
    writer.entry("", "x");
    writer.begin_sequence("ignored");
    writer.entry("", "y");
    writer.end();
    writer.end();
    writer.end();
    writer.emit({Yaml_Event_Kind::document_end, "", ""});  // accepted, writes nothing
    EXPECT_EQ(writer.text(),
              "k: v # not a comment \r\ninner:\r\n\ta: \r\n# note\r\n\tlist:\r\n\t\t- x\r\n\t\t-\r\n\t\t\t- y\r\n");
    // Unclosed collections simply end with the text.
    EXPECT_EQ(read_events(writer.text()), "{|k=v # not a comment |{inner|a=|# note|[list|=x|[|=y|}|}|}|}|$");
}

TEST(YamlWriter, OutputErrors) {
    const struct {
        const char* name;
        std::function<void(Yaml_Writer&)> action;
    } cases[] = {
        {"end with nothing open", [](Yaml_Writer& w) { w.end(); }},
        {"entry with nothing open", [](Yaml_Writer& w) { w.entry("k", "v"); }},
        {"item with nothing open", [](Yaml_Writer& w) { w.entry("", "v"); }},
        {"item inside a mapping", [](Yaml_Writer& w) { w.begin_mapping(""), w.entry("", "v"); }},
        {"keyed entry inside a sequence", [](Yaml_Writer& w) { w.begin_sequence(""), w.entry("k", "v"); }},
        {"keyless mapping inside a mapping", [](Yaml_Writer& w) { w.begin_mapping(""), w.begin_mapping(""); }},
        {"keyless sequence inside a mapping", [](Yaml_Writer& w) { w.begin_mapping(""), w.begin_sequence(""); }},
        {"one end too many", [](Yaml_Writer& w) { w.begin_mapping(""), w.end(), w.end(); }},
        {"kind none",
         [](Yaml_Writer& w) {
             w.emit({Yaml_Event_Kind::none, "k", "v"});
         }},
        {"kind out of range",
         [](Yaml_Writer& w) {
             w.emit({static_cast<Yaml_Event_Kind>(7), "k", "v"});
         }},
    };
    for (const auto& c : cases) {
        Yaml_Writer writer("");
        EXPECT_EQ(output_error_of([&] { c.action(writer); }), "YAML Output Error") << c.name;
    }
}

TEST(YamlWriter, GrowsPastItsFirstBuffer) {
    Yaml_Writer writer("t");
    writer.begin_sequence("");
    std::string expected = "--- !t\r\n\r\n";
    for (int i = 0; i < 2000; ++i) {
        const std::string value = "value " + std::to_string(i);
        writer.entry("", value);
        expected += "- " + value + "\r\n";
    }
    EXPECT_EQ(writer.text(), expected);
}

// Whatever the reader reads, written again and read back gives the same
// events, up to what the writer does not write (keys and values of
// collection starts inside sequences, values of collection starts).
TEST(YamlWriter, ReaderEventsRoundTrip) {
    const char* documents[] = {
        "--- !zib\nfilter:\n  - uri: a\n    search: b\n  - uri: c\n",
        "# lead\nroot:\n  - plain\n  - 'quoted' # x \n  -\n    - nested\n  - k: v\n    m:\n      deep: 1\n"
        "  # between\n  - last\ntail: \t\n",
        "- a\n- b:\n    - c\n-\n  x: 1\n",
    };
    for (const char* document : documents) {
        std::string type;
        if (std::string_view(document).starts_with("--- !")) type = "zib";
        Yaml_Reader reader(type, document);
        Yaml_Writer writer(type);
        std::vector<Yaml_Event_Kind> open;
        std::string expected;
        for (;; reader.next()) {
            Yaml_Event e = reader.event();
            if (e.kind == Yaml_Event_Kind::mapping_start || e.kind == Yaml_Event_Kind::sequence_start) {
                if (open.empty() || open.back() == Yaml_Event_Kind::sequence_start) e.key = {};
                e.value = {};
                open.push_back(e.kind);
            } else if (e.kind == Yaml_Event_Kind::collection_end) {
                open.pop_back();
            }
            expected += describe(e) + (e.kind == Yaml_Event_Kind::document_end ? "" : "|");
            writer.emit(e);
            if (e.kind == Yaml_Event_Kind::document_end) break;
        }
        EXPECT_EQ(read_events(writer.text(), type), expected) << document;
    }
}

namespace {

struct Rule {
    std::string_view uri, search, replace;
    std::int32_t weight = 0;
    std::uint32_t mask = 0;
    bool enabled = false;
    char32_t mark = U'-';
    std::uint8_t level = 0;
    std::vector<std::string_view> tags;
};

// One description of the data, used for writing and for reading.
void describe_rules(Yaml_IO& io, std::vector<Rule>& rules) {
    io.mapping([&] {
        io.sequence("filter", Array_Access::of(rules), [&](std::size_t i) {
            Rule& r = rules[i];
            io.mapping([&] {
                io.field("uri", r.uri);
                io.field("search", r.search);
                io.field("replace", r.replace);
                io.field("weight", r.weight);
                io.field("mask", r.mask);
                io.field("enabled", r.enabled);
                io.field("mark", r.mark);
                io.field("level", r.level);
                io.sequence("tags", Array_Access::of(r.tags), [&](std::size_t t) { io.item(r.tags[t]); });
            });
        });
    });
}

}  // namespace

TEST(YamlWriter, WritesThroughYamlIOAndReadsBack) {
    std::vector<Rule> rules(2);
    rules[0] = {"http://a/.*", "<b>", "", -5, 0xFFFFFFFFu, true, U'\u3042', 200, {"x", "y z"}};
    rules[1] = {"u", "s", "r # kept", 7, 8, false, U'A', 0, {"only"}};
    Yaml_Writer writer("zib");
    describe_rules(writer, rules);
    const std::string text(writer.text());

    std::vector<Rule> read;
    Yaml_Reader reader("zib", text);
    describe_rules(reader, read);
    ASSERT_EQ(read.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(read[i].uri, rules[i].uri);
        EXPECT_EQ(read[i].search, rules[i].search);
        EXPECT_EQ(read[i].replace, rules[i].replace);
        EXPECT_EQ(read[i].weight, rules[i].weight);
        EXPECT_EQ(read[i].mask, rules[i].mask);
        EXPECT_EQ(read[i].enabled, rules[i].enabled);
        EXPECT_EQ(read[i].mark, rules[i].mark);
        EXPECT_EQ(read[i].level, rules[i].level);
        EXPECT_EQ(read[i].tags, rules[i].tags);
    }
}

TEST(YamlWriter, YamlIOMappingNeedsAPlaceWithoutKey) {
    Yaml_Writer writer("");
    writer.begin_mapping("");
    EXPECT_EQ(output_error_of([&] { writer.mapping([] {}); }), "YAML Output Error");
    char32_t surrogate = 0xD800;
    EXPECT_EQ(output_error_of([&] { writer.field("c", surrogate); }), "YAML Output Error");
    EXPECT_EQ(writer.text(), "");
}
