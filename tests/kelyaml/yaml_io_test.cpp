#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_reader.hpp"

using kelyaml::Array_Access;
using kelyaml::Yaml_Error;
using kelyaml::Yaml_Event_Kind;
using kelyaml::Yaml_IO;
using kelyaml::Yaml_Reader;

namespace {

struct Rule {
    std::string_view uri, search, replace;
};

// The settings description: root mapping, "filter" sequence of mappings.
std::vector<Rule> read_rules(std::string_view text, std::vector<Rule> rules = {}) {
    Yaml_Reader reader("zib", text);
    Yaml_IO& io = reader;
    io.mapping([&] {
        io.sequence("filter", Array_Access::of(rules), [&](std::size_t i) {
            io.mapping([&] {
                io.field("uri", rules[i].uri);
                io.field("search", rules[i].search);
                io.field("replace", rules[i].replace);
            });
        });
    });
    return rules;
}

std::string yaml_error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Yaml_Error& e) {
        return e.message();
    }
    return "(none)";
}

}  // namespace

TEST(YamlIO, NestedStructureInAnyOrderWithUnknownKeysSkipped) {
    const auto rules = read_rules(
        "--- !zib\n"
        "before: 1\n"
        "unknown:\n"
        "  filter:\n"  // same key, deeper: skipped with its parent
        "    - uri: no\n"
        "filter:\n"
        "  - uri: a\n"
        "    search: b\n"
        "    replace: c\n"
        "  - replace: z\n"
        "    extra:\n"
        "      - deep\n"
        "      - deeper:\n"
        "          x: 1\n"
        "    uri: y\n"
        "    # a comment inside a rule\n"
        "  - search: only\n"
        "    Uri: case matters\n"
        "after: 2\n");
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules[0].uri, "a");
    EXPECT_EQ(rules[0].search, "b");
    EXPECT_EQ(rules[0].replace, "c");
    EXPECT_EQ(rules[1].uri, "y");
    EXPECT_EQ(rules[1].search, "");
    EXPECT_EQ(rules[1].replace, "z");
    EXPECT_EQ(rules[2].uri, "");
    EXPECT_EQ(rules[2].search, "only");
}

TEST(YamlIO, SequenceEmptiesTheArrayAndTheLastOccurrenceWins) {
    std::vector<Rule> old(5, Rule{"old", "old", "old"});
    const auto rules = read_rules("--- !zib\nfilter:\n  - uri: 1\nfilter:\n  - uri: a\n    uri: b\n  - x\n", old);
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0].uri, "b");  // a key twice: the later value
    EXPECT_EQ(rules[1].uri, "");   // an item that is not a mapping: an empty record
    // No "filter" sequence at all: the array stays as it was.
    EXPECT_EQ(read_rules("--- !zib\nfilter: text\nother:\n  - uri: q\n", old).size(), 5u);
    EXPECT_EQ(read_rules("--- !zib\n- uri: q\n", old).size(), 5u);  // root is not a mapping
    EXPECT_EQ(read_rules("--- !zib\n# first\nfilter:\n  - uri: q\n", old).size(), 5u);
    EXPECT_EQ(read_rules("--- !zib\n", old).size(), 5u);
}

TEST(YamlIO, SetLengthProtocol) {
    std::vector<std::string> calls;
    struct Recorder {
        std::vector<std::string>* calls;
    } recorder{&calls};
    const Array_Access access{
        &recorder, [](void*) -> std::size_t { return 0; },
        [](void* a, std::size_t n) { static_cast<Recorder*>(a)->calls->push_back("length " + std::to_string(n)); }};
    Yaml_Reader reader("", "list:\n  - a\n  # note\n  - b\n");
    reader.mapping([&] {
        reader.sequence("list", access, [&](std::size_t i) {
            std::string_view value;
            reader.item(value);
            calls.push_back("item " + std::to_string(i) + " " + std::string(value));
        });
    });
    const std::vector<std::string> expected = {"length 0",     "length 1", "item 0 a", "length 2",
                                               "item 1  note", "length 3", "item 2 b"};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::collection_end);  // the root's end
}

TEST(YamlIO, TypedFields) {
    const std::string text =
        "i: -7\nu: 0x1F\nb: no\nt: off\nc: \xC3\xBC\xC3\xA9\nbyte: 300\nmissing_i: \nfirst: 1\nfirst: 2\n";
    std::int32_t i = 99, first = 0;
    std::uint32_t u = 99;
    bool b = true, t = false, untouched = true;
    char32_t c = 0;
    std::uint8_t byte = 0;
    std::int32_t never = 42;
    Yaml_Reader reader("", text);
    reader.mapping([&] {
        reader.field("i", i);
        reader.field("u", u);
        reader.field("b", b);
        reader.field("t", t);
        reader.field("c", c);
        reader.field("byte", byte);
        reader.field("first", first);
        reader.field("absent", never);
        reader.field("B", untouched);
    });
    EXPECT_EQ(i, -7);
    EXPECT_EQ(u, 31u);
    EXPECT_FALSE(b);
    EXPECT_TRUE(t);
    EXPECT_EQ(c, U'\u00FC');
    EXPECT_EQ(byte, 44);  // low 8 bits of 300
    EXPECT_EQ(first, 2);
    EXPECT_EQ(never, 42);
    EXPECT_TRUE(untouched);
}

TEST(YamlIO, CharacterFieldNeedsAValidFirstCodePoint) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"c:\n", "YAML Type Error at line 1: \"c:\""},
        {"a: 1\nc: \x80x\n", "YAML Type Error at line 2: \"c: ?x\""},
        {"a: 1\r\n\r\nc: \xC3\n", "YAML Type Error at line 3: \"c: ?\""},
        {"c: \xED\xA0\x80\n", "YAML Type Error at line 1: \"c: ???\""},
        {"c: \xC0\x80", "YAML Type Error at line 1: \"c: ??\""},
        // An empty value followed by a line of the next entry: still the entry's line.
        {"a: 1\nc:\nd: 2\n", "YAML Type Error at line 2: \"c:\""},
    };
    for (const auto& t : cases) {
        char32_t c = U'?';
        Yaml_Reader reader("", t.text);
        EXPECT_EQ(yaml_error_of([&] { reader.mapping([&] { reader.field("c", c); }); }), t.error) << t.text;
        EXPECT_EQ(c, U'?');
    }
}

TEST(YamlIO, OperationsOnTheWrongEventDoNothing) {
    Yaml_Reader reader("", "a: 1\nlist:\n  - x\n");
    std::vector<int> list(3);
    int calls = 0;
    reader.sequence("list", Array_Access::of(list), [&](std::size_t) { ++calls; });  // root is a mapping
    reader.mapping([&] {
        reader.sequence("other", Array_Access::of(list), [&](std::size_t) { ++calls; });  // key differs
        reader.sequence("a", Array_Access::of(list), [&](std::size_t) { ++calls; });      // not a sequence
        reader.mapping([&] { ++calls; });                                                 // not a mapping
    });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(list.size(), 3u);
}

TEST(YamlIO, ErrorsWhileWalking) {
    // Entering a broken block is a next(); moving between children is a skip().
    EXPECT_EQ(yaml_error_of([] { read_rules("--- !zib\nfilter:\n  - uri: a\n     search: b\n"); }),
              "YAML Structure Error at line 4: \"     search: b\"");
    EXPECT_EQ(yaml_error_of([] { read_rules("--- !zib\nfilter:\n# c\n  - uri: a\n"); }),
              "YAML Structure Error at line 4: \"  - uri: a\"");
    EXPECT_EQ(yaml_error_of([] { read_rules("--- !zib\nx:\n  - a\nfilter:\n  -\n  - uri: a\n"); }), "(none)");
    EXPECT_EQ(
        yaml_error_of([] { read_rules("--- !zib\nfilter:\n  - uri: a\n  - uri: b\n    search: c\n     x: 1\n"); }),
        "YAML Structure Error at line 6: \"     x: 1\"");
    Yaml_Reader reader("", "a:\n   b: 1\n    c: 2\n");
    reader.next();
    EXPECT_EQ(yaml_error_of([&] { reader.mapping([] {}); }), "YAML Structure Error at line 3: \"    c: 2\"");
}

TEST(YamlIO, HandlerThatRunsPastTheEndIsStopped) {
    Yaml_Reader reader("", "a: 1\nb: 2\n");
    int calls = 0;
    EXPECT_EQ(yaml_error_of([&] {
                  reader.mapping([&] {
                      ++calls;
                      while (reader.event().kind != Yaml_Event_Kind::document_end) reader.next();
                  });
              }),
              "YAML Structure Error at line 3: \"\"");  // the end of the text
    EXPECT_EQ(calls, 1);
}
