#include <gtest/gtest.h>

#include <string>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_reader.hpp"
#include "yaml_events.hpp"

using kelyaml::ERROR_LINE_BYTES;
using kelyaml::Yaml_Error;
using kelyaml::Yaml_Event_Kind;
using kelyaml::Yaml_Reader;

namespace {

struct Case {
    const char* name;
    std::string text;
    std::string events;
};

std::string spaces(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

}  // namespace

TEST(YamlReader, WorkedExample) {
    EXPECT_EQ(read_events("--- !zib\nfilter:\n  - uri: a\n    search: b\n  - uri: c\n", "zib"),
              "{|[filter|{uri=a|uri=a|search=b|}|{uri=c|uri=c|}|}|}|$");
}

TEST(YamlReader, EventSequences) {
    const Case cases[] = {
        {"mapping entry forms, value verbatim", "a:b\nc : d\ne:   f\ng: a # b \nh:\t'q' \n",
         "{|a=b|c=d|e=f|g=a # b |h=\t'q' |}|$"},
        {"sequence item forms", "- abc:def\n- abc def\n- 'x'\n-abc: 1\n- abc  def \n- -x\n",
         "[|{abc=def|abc=def|}|=abc def|='x'|{abc=1|abc=1|}|=abc  def |=-x|}|$"},
        {"word bytes", "a-b_c*+\xC3\xA9: 1\n", "{|a-b_c*+\xC3\xA9=1|}|$"},
        {"nested blocks by indentation", "a:\n  b:\n    - x\n    - y\n  c: 1\nd:\n  e: 2\n",
         "{|{a|[b|=x|=y|}|c=1|}|{d|e=2|}|}|$"},
        {"one line closes several levels", "a:\n  b:\n    c: 1\nd: 2", "{|{a|{b|c=1|}|}|d=2|}|$"},
        {"empty value before a shallower line", "a:\n  b:\nc: 1", "{|{a|b=|}|c=1|}|$"},
        {"empty value at the same level", "a:\nb: 1", "{|a=|b=1|}|$"},
        {"dash mapping continues two columns right", "- a: 1\n  b: 2\n- c: 3\n", "[|{a=1|a=1|b=2|}|{c=3|c=3|}|}|$"},
        {"dash mapping one column too far", "- a: 1\n   b: 2\n", "[|{a=1|a=1|!YAML Error at line 2: \"   b: 2\""},
        {"dash mapping with an empty first value", "- a:\n    b: 1\n", "[|{a|{a|b=1|}|}|}|$"},
        {"sequence inside a dash mapping", "- a:\n  - x\n", "[|{a|a=|=x|}|}|$"},
        {"a tab counts 256 columns", "a:\n\tb: 1\n" + spaces(256) + "c: 2\nd: 3\n", "{|{a|b=1|c=2|}|d=3|}|$"},
        {"a tab is deeper than 255 spaces", "a:\n" + spaces(255) + "b: 1\n\tc: 2\n",
         "{|{a|b=1|!YAML Error at line 3: \"\tc: 2\""},
        {"a line between two levels belongs to the outer one", "a:\n\tb: 1\n" + spaces(255) + "c: 2\n",
         "{|{a|b=1|}|c=2|}|$"},
        {"and the next line at that column is too deep", "a:\n    b: 1\n  c: 2\n  d: 3\n",
         "{|{a|b=1|}|c=2|!YAML Error at line 4: \"  d: 3\""},
        {"comments at any indentation", "a:\n  b: 1\n        # deep\n# shallow\n  c: 2\n",
         "{|{a|b=1|# deep|# shallow|c=2|}|}|$"},
        {"comment after an empty value keeps it a scalar", "a:\n#c\nb: 1\n", "{|a=|#c|b=1|}|$"},
        {"comment between a key and its block", "filter:\n# c\n  - uri: a\n",
         "{|filter=|# c|!YAML Error at line 3: \"  - uri: a\""},
        {"comment before the root", "# c\nk: v\n", "# c|{|k=v|}|$"},
        {"blank lines anywhere", "\n  \na:\n\n \t \n  b: 1\n\n\n", "{|{a|b=1|}|}|$"},
        {"CR, CR LF and LF line ends", "a:\r  b: 1\r\n  c: 2\nd: 3\r", "{|{a|b=1|c=2|}|d=3|}|$"},
        {"CR LF inside a comment and an item", "- x\r\n#y\r\n- z\r\n", "[|=x|#y|=z|}|$"},
        {"key lines inside a sequence, items inside a mapping", "- x\na: 1\nb: 2\n- y\n", "[|=x|a=1|b=2|=y|}|$"},
        {"root sequence", "- a\n- b", "[|=a|=b|}|$"},
        {"text ends inside a line", "a:\n  b: 1", "{|{a|b=1|}|}|$"},
        {"text ends after an empty value", "a:", "{|a=|}|$"},
        {"text ends after an empty item", "- ", "[|=|}|$"},
        {"text ends after an empty dash mapping", "- a:   ", "[|{a|a=|}|}|$"},
        {"empty text", "", "$"},
        {"only blank lines and comments", "\n \r\n# x\n\t\n", "# x|$"},
        {"byte-order mark without a header", "\xEF\xBB\xBFk: v", "{|k=v|}|$"},
        {"first content line indented", "  a: 1\n", "!YAML Initialization Error at line 1: \"  a: 1\""},
        {"line deeper than its level", "a: 1\n  b: 2\n", "{|a=1|!YAML Error at line 2: \"  b: 2\""},
        {"entry without a key", "a: 1\n: x\n", "{|a=1|!YAML Error at line 2: \": x\""},
        {"entry without a colon", "a: 1\nb c: 2\n", "{|a=1|!YAML Error at line 2: \"b c: 2\""},
        {"bare word", "a: 1\nb", "{|a=1|!YAML Error at line 2: \"b\""},
        {"control byte", "a: 1\n\x01: 2", "{|a=1|!YAML Error at line 2: \"?: 2\""},
    };
    for (const auto& c : cases) EXPECT_EQ(read_events(c.text), c.events) << c.name;
}

TEST(YamlReader, HeaderAndType) {
    const struct {
        std::string text;
        const char* type;
        const char* error;  // nullptr: reads
    } cases[] = {
        {"--- !zib\nk: v\n", "zib", nullptr},
        {"--- !zib\r\nk: v\n", "zib", nullptr},
        {"--- !zib\rk: v\n", "zib", nullptr},
        {"---!zib\n", "zib", nullptr},
        {"---   !   zib   \n", "zib", nullptr},
        {"\xEF\xBB\xBF--- !zib\nk: v\n", "zib", nullptr},
        {"--- !zib\n", "Zib", "YAML Type Error at line 1: \"--- !zib\""},
        {"--- !zib", "zib", "YAML Initialization Error at line 1: \"--- !zib\""},
        {"--- !zib ", "zib", "YAML Initialization Error at line 1: \"--- !zib \""},
        {"---\nk: v\n", "zib", "YAML Initialization Error at line 1: \"---\""},
        {"--- zib\n", "zib", "YAML Initialization Error at line 1: \"--- zib\""},
        {"--- !\n", "", "YAML Initialization Error at line 1: \"--- !\""},
        {"--- !zib extra\n", "zib", "YAML Initialization Error at line 1: \"--- !zib extra\""},
        // The first advance fails, on the line after the header.
        {"--- !zib\n  k: v\n", "zib", "YAML Initialization Error at line 2: \"  k: v\""},
        {"--- !zib\n  k: v\n", "other", "YAML Initialization Error at line 2: \"  k: v\""},
        {"k: v\n", "zib", "YAML Type Error at line 1: \"k: v\""},
        {"", "zib", "YAML Type Error at line 1: \"\""},
        {"--- !zib\n", "", "YAML Type Error at line 1: \"--- !zib\""},
        // No longer the header: a root sequence.
        {"\n--- !zib\n", "zib", "YAML Type Error at line 1: \"\""},
        {"# c\n--- !zib\n", "zib", "YAML Type Error at line 1: \"# c\""},
        // One mark only: the second is part of the line, and there is no header.
        {"\xEF\xBB\xBF\xEF\xBB\xBF--- !zib\n", "zib", "YAML Type Error at line 1: \"\xEF\xBB\xBF--- !zib\""},
        {"\xEF\xBB\xBF--- !zab\nk: v\n", "zib", "YAML Type Error at line 1: \"--- !zab\""},
    };
    for (const auto& c : cases) {
        try {
            Yaml_Reader reader(c.type, c.text);
            EXPECT_EQ(c.error, nullptr) << c.text;
        } catch (const Yaml_Error& e) {
            EXPECT_STREQ(e.message().c_str(), c.error ? c.error : "(none)") << c.text;
            EXPECT_STREQ(e.type_name(), "Yaml_Error");
        }
    }
}

TEST(YamlReader, ErrorsSayWhichLine) {
    const std::string long_key(70, 'k');
    const Case cases[] = {
        {"blank and comment lines count", "a: 1\n\n# c\n   \n  b: 2\n", "{|a=1|# c|!YAML Error at line 5: \"  b: 2\""},
        {"CR LF counts once", "a: 1\r\n\r\n  b: 2\r\n", "{|a=1|!YAML Error at line 3: \"  b: 2\""},
        {"a lone CR ends a line", "a: 1\r\r  b: 2\r", "{|a=1|!YAML Error at line 3: \"  b: 2\""},
        {"LF CR is two line ends", "a: 1\n\r  b: 2", "{|a=1|!YAML Error at line 3: \"  b: 2\""},
        {"the last line without its end", "a: 1\nb: 2\n  c: 3", "{|a=1|b=2|!YAML Error at line 3: \"  c: 3\""},
        {"a line looked at past an empty value", "a:\n\nb c: 1\n", "{|a=|!YAML Error at line 3: \"b c: 1\""},
        {"a line read after the ends it owes", "a:\n  b:\n    c: 1\nd e: 2\n",
         "{|{a|{b|c=1|}|}|!YAML Error at line 4: \"d e: 2\""},
        {"long lines are cut", long_key + " x: 1\n",
         "{|!YAML Error at line 1: \"" + long_key.substr(0, ERROR_LINE_BYTES) + "…\""},
        {"exactly the length kept is not cut", "a: 1\n " + std::string(ERROR_LINE_BYTES - 1, 'x') + "\n",
         "{|a=1|!YAML Error at line 2: \" " + std::string(ERROR_LINE_BYTES - 1, 'x') + "\""},
        {"no half characters at the cut", "a: 1\n" + std::string(ERROR_LINE_BYTES - 1, ' ') + "\xE6\x97\xA5: 2\n",
         "{|a=1|!YAML Error at line 2: \"" + std::string(ERROR_LINE_BYTES - 1, ' ') + "…\""},
        {"control bytes and broken UTF-8 are shown as ?", std::string("a: 1\n  \x7F\x80\xC3(\xE6\x97\xA5\x00: 2", 18),
         "{|a=1|!YAML Error at line 2: \"  ??"
         "?(\xE6\x97\xA5?: 2\""},
    };
    for (const auto& c : cases) EXPECT_EQ(read_events(c.text), c.events) << c.name;
}

TEST(YamlReader, KeyAndValueCopiesFollowNextAndSkip) {
    const std::string text = "--- !zib\na: 1\nb:\n  c: 2\nd: 3\n";
    Yaml_Reader reader("zib", text);
    EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::mapping_start);
    reader.next();
    EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::scalar);
    EXPECT_EQ(reader.key(), "a");
    EXPECT_EQ(reader.value(), "1");
    // Views into the caller's text, not copies.
    EXPECT_GE(reader.value().data(), text.data());
    EXPECT_LT(reader.value().data(), text.data() + text.size());
    reader.next();
    EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::mapping_start);
    EXPECT_EQ(reader.key(), "b");
    reader.skip();  // the whole block "b"
    EXPECT_EQ(reader.key(), "d");
    EXPECT_EQ(reader.value(), "3");
    reader.next();
    EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::collection_end);
    EXPECT_EQ(reader.key(), "d");  // an end leaves key and value as they were
    reader.skip();
    EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::document_end);
    for (int i = 0; i < 3; ++i) {
        reader.next();
        reader.skip();
        EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::document_end);
    }
}

TEST(YamlReader, KeyAndValueEmptyUntilTheFirstAdvance) {
    Yaml_Reader reader("", "# note\nk: v\n");
    EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::comment);
    EXPECT_EQ(reader.event().value, " note");
    EXPECT_EQ(reader.value(), "");
}

TEST(YamlReader, SkipFailuresAreStructureErrorsAndFailuresStick) {
    Yaml_Reader reader("", "a:\n  b: 1\n   c: 2\nd: 3\n");
    reader.next();  // mapping "a"
    try {
        reader.skip();
        FAIL() << "skip read past a broken line";
    } catch (const Yaml_Error& e) {
        EXPECT_EQ(e.message(), "YAML Structure Error at line 3: \"   c: 2\"");
    }
    // The reader is unusable afterwards; it keeps failing instead of guessing.
    EXPECT_THROW(reader.next(), Yaml_Error);
    EXPECT_THROW(reader.skip(), Yaml_Error);
}

// Whatever the bytes, the reader ends in document_end or a Yaml_Error, with a
// bounded number of events and every key and value inside the text.
namespace {

void read_to_the_end(std::string_view text, bool by_skip) {
    std::size_t events = 0;
    const auto inside = [&](std::string_view v) {
        return v.empty() || (v.data() >= text.data() && v.data() + v.size() <= text.data() + text.size());
    };
    try {
        Yaml_Reader reader("", text);
        while (reader.event().kind != Yaml_Event_Kind::document_end) {
            ASSERT_TRUE(inside(reader.event().key) && inside(reader.event().value));
            ASSERT_LE(++events, 3 * text.size() + 3) << "too many events";
            by_skip ? reader.skip() : reader.next();
        }
    } catch (const Yaml_Error&) {
    }
}

}  // namespace

TEST(YamlReaderRobustness, EveryPrefixOfADocument) {
    const std::string text =
        "\xEF\xBB\xBF--- !zib\r\n# c\nfilter:\n  - uri: a\n    search: b # x\n  -\n    - q\n\t- r\n  - plain\n"
        "other:\r  deep:\n    deeper: 1\n";
    for (std::size_t n = 0; n <= text.size(); ++n) {
        const std::string prefix = text.substr(0, n);  // its own allocation, so ASan sees any overread
        read_to_the_end(prefix, false);
        read_to_the_end(prefix, true);
    }
}

TEST(YamlReaderRobustness, MegabyteLine) {
    const std::string big(1 << 20, 'x');
    const std::string text = "k: " + big + "\nlast: " + big;
    Yaml_Reader reader("", text);
    reader.next();
    EXPECT_EQ(reader.value().size(), big.size());
    reader.next();
    EXPECT_EQ(reader.key(), "last");
    EXPECT_EQ(reader.value().size(), big.size());
    // A megabyte of indentation is a blank line, then deeper than any level.
    EXPECT_EQ(read_events(std::string(1 << 20, '\t') + "\n" + "a: 1\n" + std::string(1 << 20, '\t') + "b: 2"),
              "{|a=1|!YAML Error at line 3: \"" + std::string(ERROR_LINE_BYTES, '\t') + "…\"");
}

TEST(YamlReaderRobustness, TenThousandLevels) {
    constexpr int depth = 10000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += spaces(i) + "k:\n";
    text += spaces(depth) + "- leaf\n";
    {
        Yaml_Reader reader("", text);
        int starts = 0, ends = 0;
        while (reader.event().kind != Yaml_Event_Kind::document_end) {
            starts += reader.event().kind == Yaml_Event_Kind::mapping_start;
            ends += reader.event().kind == Yaml_Event_Kind::collection_end;
            reader.next();
        }
        EXPECT_EQ(starts, depth);
        EXPECT_EQ(ends, depth + 1);  // the innermost sequence too
    }
    {
        Yaml_Reader reader("", text);
        reader.skip();  // the root with its whole subtree, without recursion
        EXPECT_EQ(reader.event().kind, Yaml_Event_Kind::document_end);
    }
}
