// The engine as tables: a pattern, a text and what the search finds (or why
// the pattern does not compile); then the operations and the step budget.
// (The search's skipping scans are checked against PCRE2 in
// differential_test.cpp; one compiled object shared by threads in
// tests/program/rule_set_test.cpp.)
#include <gtest/gtest.h>

#include <pthread.h>

#include <string>
#include <tuple>

#include "kelregexp/regular_expression.hpp"

using namespace kelregexp;

namespace {

constexpr int N = mode_n, A = mode_a, L = mode_l, U = mode_u, W = mode_w, S = mode_s, E = mode_e;
// IM: case ignored and `.`, negated classes, ^ and $ at line breaks: what the rule set compiles with.
constexpr int I = option_ignore_case, M = option_multiline, IM = I | M, LOC = option_locale;
constexpr int KANA = option_ignore_kana, WIDTH = option_ignore_width;

// "start,end" of the leftmost match, "none", or "!position reason" when the pattern does not compile.
std::string span_of(std::string_view pattern, std::string_view text, int mode = A, int options = 0) {
    try {
        Regular_Expression re(pattern, mode, options);
        std::ptrdiff_t s, e;
        if (!re.search(text, 0, s, e)) return "none";
        return std::to_string(s) + "," + std::to_string(e);
    } catch (const Regular_Expression_Error& e) {
        return "!" + std::to_string(e.position()) + " " + e.reason();
    }
}

// UTF-16 (little-endian) text from ASCII-or-BMP code points.
std::string w16(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return out;
}

std::string nested(std::size_t depth) { return std::string(depth, '(') + "a" + std::string(depth, ')'); }

struct Case {
    std::string pattern;
    std::string text;
    const char* want = nullptr;  // span_of's answer
    int options = 0;
    int mode = A;
};

TEST(Regexp, Search) {
    const std::string rare = std::string(100000, 'x') + "aDvErTiSeMeNt", hira = "\xE3\x81\x82", nul("a\0", 2);
    const Case cases[][5] = {
        // Atoms, escapes and classes (plain classes and ranges, ., ^, $, < and >, \d, \w, \s and \n, repetitions
        // and look-aheads are checked against PCRE2 in differential_test.cpp).
        {{"#65", "xA", "1,2"}, {"#$41", "xA", "1,2"}, {"#300", "x,", "1,2"}, {"\\D+", "ab123c", "2,5"}},
        {{"\\a\\b\\e\\f\\l\\r\\t\\v\\z", "x\a\b\x1b\f\n\r\t\v\x1a", "1,10"}, {"\\T\\#", "x\t#", "1,3"}},
        {{"\\A\\B\\E\\F\\L\\R\\V\\Z", "x\a\b\x1b\f\n\r\v\x1a", "1,9"}, {"\\0", nul, "1,2"}, {"\\q", "aq", "1,2"}},
        {{"\\.\\(\\\\\\$\\<\\=", "a.(\\$<=", "1,7"}, {"\\S", "ab c", "2,3"}, {"[]a]+", "x]a]", "1,4"}},
        {{"[\\]", "a\\b", "1,2"}, {"[~a]", "aab", "2,3"}, {"[--/]+", "a-./", "1,4"}, {"%abc", "abc", "0,3"}},
        // The last letters and digits are word characters too; an empty last alternative matches.
        {{"<XYZ9_>", "a XYZ9_ b", "2,7"}, {"a>", "aZ az a9", "none"}, {"a|", "xa", "1,2"}},
        // Comparisons: mode A chooses by the options, headers switch them; long texts where the first
        // character is rare or absent.
        {{"ABC", "xabc", "1,4", LOC | I}, {"[A-C]+", "xabcd", "1,4", I}, {"?i:abc", "xABC", "1,4"}},
        {{"(?i:a)b", "AB", "none"}, {"(?i:a)b", "Ab", "0,2"}, {"?i:a(?i-:b)c", "AbC", "0,3"}},
        {{"?i:a(?i-:b)c", "ABC", "none"}, {"?n:abc", "ABC", "none", IM}, {"advertisement", rare, "100000,100013", IM}},
        {{"advertisement", rare, "none"}, {"zz|advert", rare, "100000,100006", I}, {"x*advert", rare, "0,100006", I}},
        // UTF-8: pattern bytes are code page 1252, a truncated character runs to the end, trail bytes never
        // start; EUC-JP; single-byte modes.
        {{"#$E38182", "x" + hira, "1,4", 0, U}, {"#$E38182", "x\xE3\x81", "none", 0, U}},
        {{"\xE1", "x\xC3\xA1", "1,3", 0, U}, {"\x80", "\xE2\x82\xAC", "0,3", 0, U}, {".", hira, "0,3", 0, U}},
        {{".", "\xE3\x81", "0,2", 0, U}, {"[^a]", "\xE3\x81", "0,2", 0, U}, {"[^a]", "\xE3\x81", "0,2", M, U}},
        {{"a.b", "a" + hira + "b", "0,5", 0, U}, {"#$F0.", "\xF0\x9F\x98\x80", "0,2", 0, U}},
        {{"#$81", hira + "\x81", "3,4", 0, U}, {"ABC", "abc", "0,3", I, U}, {"[a-z]+", "X\xC3\xA1Y", "0,1", I, U}},
        {{"\xE1", "x\xC3\x80", "none", I, U}, {"#$E38182", "x" + hira, "1,4", IM, U}},
        {{"#$E38182", "\xE3\x83\x82", "none", IM, U}, {"?w:#$6100", std::string("x\0a", 3), "none"}},
        {{"?w:#$6100", std::string("xx\0a", 4), "2,4"}, {"#$A4A2", "x\xA4\xA2", "1,3", 0, E}},
        {{"#$A2", "\xA4\xA2", "none", 0, E}, {".", "\x8E\xB1", "0,2", 0, E}, {".x", "\x8Fx", "0,2", 0, E}},
        {{"abc", "ABC", "0,3", I, E}, {"abc", "ABC", "0,3", IM, E}, {"abc", "ABC", "none", LOC, E}},
        {{"abc", "xABC", "none", IM, N}, {"\xE9", "x\xC9", "1,2", IM}, {"\xE9", "x\xC9", "none", I}},
        {{"a", "xA", "1,2", IM, L}, {"<ab>", "x ab y", "2,4", 0, L}, {"(?u:#$E38182)x", "\xE3\x81\x82x", "0,4"}},
        // UTF-16, each row in both byte orders (mode W rows run in mode S too, bytes swapped).
        {{"b", w16(u"ab"), "2,4", 0, W}, {"b", w16(u"ab") + "b", "2,4", 0, W}, {".", "a", "none", 0, W}},
        {{"#$3042", w16(u"x\u3042"), "2,4", 0, W}, {"\xE1", w16(u"x\u00E1"), "2,4", 0, W}},
        {{"\x80", w16(u"\u20AC"), "0,2", 0, W}, {".", w16(u"a\n"), "0,2", M, W}, {"a.", w16(u"a\n"), "none", M, W}},
        {{"a.", w16(u"a\u010A"), "0,4", M, W}, {"\\n", w16(u"x\r\n"), "2,6", 0, W}, {"^b", w16(u"a\nb"), "4,6", M, W}},
        {{"a$", w16(u"a\rb"), "0,2", M, W}, {"<ab>", w16(u"x ab y"), "4,8", 0, W}, {"<ab>", w16(u"xab"), "none", 0, W}},
        {{"ABC", w16(u"abc"), "0,6", I, W}, {"ABC", w16(u"abc"), "0,6", IM, W}, {"[a-c]+", w16(u"xAbCd"), "2,8", I, W}},
        {{"#$30A2", w16(u"x\u3042"), "none", 0, W}, {"#$30A2", w16(u"x\u3042"), "2,4", KANA, W}},
        {{"#$FF21", w16(u"xA"), "none", M, W}, {"#$FF21", w16(u"xA"), "2,4", WIDTH, W}},
        {{"#$FF41", w16(u"xA"), "2,4", WIDTH | I, W}, {"#$FF71", w16(u"x\u30A2"), "2,4", WIDTH, W}},
        // Compile errors: where and why.
        {{"|a", "", "!0 empty alternative"}, {"a||b", "", "!2 empty alternative"}, {"x(?i:)", "", "!1 empty group"}},
        {{"(a", "", "!0 group not closed"}, {"\\<title\\>(?1:.*?\\</title\\>", "", "!9 group not closed"}},
        {{"a)", "", "!1 unmatched )"}, {"]", "", "!0 unescaped ]"}, {"a-", "", "!1 unescaped -"}},
        {{"=(a*)!", "", "!5 unescaped !"}, {std::string("a\0b", 3), "", "!1 NUL byte (write \\0)"}},
        {{"=", "", "!0 look-ahead without an item"}, {"a~)", "", "!1 look-ahead without an item"}},
        {{"=~a", "", "!1 look-ahead directly after a look-ahead"}, {"=a*", "", "!2 quantifier after a look-ahead"}},
        {{"a*??", "", "!3 second quantifier"}, {"(a?!*)", "", "!4 second quantifier"}},
        {{"a|?b", "", "!2 quantifier without an item before it"}, {"a#", "", "!1 # without a number"}},
        {{"[#x]", "", "!1 # without a number"}, {"#$g", "", "!1 $ without hexadecimal digits"}},
        {{"(?$:a)", "", "!2 $ without hexadecimal digits"}, {"ab\\", "", "!2 \\ at the end of the pattern"}},
        {{"[", "", "!0 class not closed"}, {"[a-]", "", "!0 class not closed"}, {"[^]", "", "!0 class not closed"}},
        {{"?", "", "!1 option header not ended by :"}, {"?i;a", "", "!2 option header not ended by :"}}};
    for (const auto& line : cases)
        for (const auto& c : line) {
            if (!c.want) continue;
            EXPECT_EQ(span_of(c.pattern, c.text, c.mode, c.options), c.want)
                << c.pattern << " on " << c.text << " options " << c.options << " mode " << c.mode;
            if (c.mode != W) continue;
            std::string swapped = c.text;
            for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
            EXPECT_EQ(span_of(c.pattern, swapped, S, c.options), c.want) << c.pattern << " big-endian";
        }
}

TEST(Regexp, CompilesOrNot) {
    for (const char* bad : {"-", "!", "~", "a=", "~)", "a+!?", "#", "#$", "\\", "[]", "[a", "[^", "(?x", "?i", "?1",
                            "()", "(+a)", "==a", "(?1a:b)"})
        EXPECT_EQ(span_of(bad, "")[0], '!') << bad;
    for (const char* good : {"?i:", "(=a)*", "[^]]", "\\n*", "\\!\\=\\~\\-\\]", "?ium-i+:a", "(?um-:a)",
                             "(?NALUWSEmbkix:a)", "a*!b+?c??d?!", "%a$", "#99999999999999999999"})
        EXPECT_NE(span_of(good, "")[0], '!') << good;
    EXPECT_EQ(span_of("a", "", mode_count), "!0 no such encoding mode");
    // Nesting is bounded instead of overflowing the stack; flat patterns need no recursion per item.
    EXPECT_EQ(span_of(nested(max_nesting + 1), ""), "!" + std::to_string(max_nesting) + " groups nested too deeply");
    std::string flat, looks;
    for (int i = 0; i < 100000; ++i) flat += "a?a?", looks += "=a";
    EXPECT_EQ(span_of(flat, "b"), "0,0");
    EXPECT_EQ(span_of(looks, "b"), "none");
    // A header at the pattern start sets the mode and the options of the whole pattern (mode * 100 + options).
    const std::tuple<const char*, int, int, int> headers[] = {
        {"abc", A, IM, A * 100 + IM}, {"?w:a", A, 0, W * 100},           {"?iu:a", N, 0, U * 100 + I},
        {"?m-i-:a", A, IM, A * 100},  {"?AN:a", U, 0, N * 100},          {"?x+b:a", A, 0, A * 100 + (LOC | WIDTH)},
        {"(?w:a)", A, 0, A * 100},    {"?1:a", L, KANA, L * 100 + KANA}, {"?ek:a", A, M, E * 100 + (KANA | M)}};
    for (const auto& [pattern, mode, options, want] : headers) {
        const Regular_Expression re(pattern, mode, options);
        EXPECT_EQ(re.encoding_mode() * 100 + re.options(), want) << pattern;
    }
}

// One operation's result as text. op: w matches_whole, s search from `arg`, c find_with_captures,
// p split, a find_all, r replace_all with the template `arg`.
std::string operation(const Regular_Expression& re, char op, std::string_view text, std::string_view arg = "") {
    std::ptrdiff_t s = 7, e = 7;
    Regular_Expression::Captures captures{{7, "stale"}};
    switch (op) {
        case 'w': return re.matches_whole(text) ? "yes" : "no";
        case 's': {
            const bool found = re.search(text, std::stoi(std::string(arg)), s, e);
            return std::to_string(found) + ":" + std::to_string(s) + "," + std::to_string(e);
        }
        case 'c': {
            std::string out = std::to_string(re.find_with_captures(text, captures));
            for (const auto& [number, part] : captures) out += " " + std::to_string(number) + "=" + std::string(part);
            return out;
        }
        case 'p':
        case 'a': {
            std::string out;
            for (auto piece : op == 'p' ? re.split(text) : re.find_all(text)) out.append(piece) += "|";
            return out;
        }
        default: return re.replace_all(text, arg);
    }
}

TEST(Regexp, Operations) {
    const struct {
        const char* pattern;
        char op;
        const char* text;
        const char* want = nullptr;
        const char* arg = "";
        int options = 0;
    } cases[][4] = {
        // matches_whole looks at the first way only.
        {{"", 'w', "", "yes"}, {"", 'w', "a", "no"}, {"ab|a", 'w', "ab", "yes"}, {"a|ab", 'w', "ab", "no"}},
        // Searches never start at the text end; starts outside the text find nothing.
        {{"", 'c', "", "-1"}, {"", 'c', "ab", "0"}, {"$", 'c', "abc", "-1"}, {"$", 'c', "a\nb", "1", "", M}},
        {{"b", 's', "abcb", "0:-1,-1", "99"}, {"b", 's', "abcb", "0:-1,-1", "-1"}},
        // Captures: the last report wins, even one that backtracking gives back; only a success reports.
        {{"(?1:[a-z]+)\\=(?2:[0-9]+)", 'c', "x id=42", "2 1=id 2=42"}, {"(?1:[a-z])*[a-z]", 'c', "abc", "0 1=c"}},
        {{"(?1:a(?1:b))", 'c', "ab", "0 1=b"}, {"(?1:a)(?1:b)", 'c', "ab", "0 1=a"}, {"(?1:a)x|b", 'c', "ab", "1"}},
        {{"(?$1F:x)(?4294967295:y)", 'c', "xy", "0 -1=y 31=x"}, {"?1:", 'c', "a", "0"}},
        {{"~(?1:[a-z]+)\\d", 'c', "ab1", "2 1=b"}},
        // Split and find_all: empty matches move on by one character and lose nothing.
        {{",", 'p', "a,,b", "a||b|"}, {",", 'p', "a,", "a||"}, {",", 'p', "", "|"}, {"[0-9]+", 'a', "a1b22", "1|22|"}},
        {{"[0-9]+", 'a', "ab", ""}, {"^a", 'p', "aaa", "||||"}, {"x*", 'p', "abc", "|a|b|c|"}},
        {{"x*", 'a', "axxb", "|xx||"}, {"", 'a', "ab", "||"}},
        // Templates past those compared with PCRE2: $ before an unknown letter, $$, and a $ at the end.
        {{"b", 'r', "abc", "a$x$$c", "$1$x$$"}, {"b", 'r', "abc", "ax$c", "x$"}}};
    for (const auto& line : cases)
        for (const auto& c : line) {
            if (!c.want) continue;
            EXPECT_EQ(operation(Regular_Expression(c.pattern, A, c.options), c.op, c.text, c.arg), c.want)
                << c.pattern << " " << c.op << " " << c.text;
        }
    EXPECT_EQ(Regular_Expression("?w:x*", A, 0).split(w16(u"ab")).size(), 3u);  // steps of one unit
    Regular_Expression::Captures captures{{3, "three"}};
    EXPECT_EQ(Regular_Expression("a+", A, 0).expand_template("$3$4$&$`$'", "p", "m", "s", captures), "threemps");
    EXPECT_EQ(captures.size(), 2u);  // looked-up numbers are added
}

// Long lines on a thread with the 1 MiB stack Windows gives a thread by default.
TEST(Regexp, RunsOnAOneMebibyteStack) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 1 << 20), 0);
    pthread_t thread;
    auto work = [](void*) -> void* {
        const std::string line = std::string(1 << 20, 'a') + "</div>", to_a = "0," + std::to_string((1 << 20) + 1);
        for (const char* p : {"?im:a.*?\\</div\\>", "?im:(a|b)*?\\<", "(a|b)*\\<", "(x|a)*?\\<", "(?1:a)+!\\<"})
            EXPECT_EQ(span_of(p, line),
                      std::string_view(p).ends_with("div\\>") ? "0," + std::to_string(line.size()) : to_a)
                << p;
        EXPECT_EQ(span_of(nested(max_nesting), "a"), "0,1");
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, work, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// A pattern that backtracks without end gives up in every operation after a number of steps bounded by
// the text's size, one budget for the whole operation.
TEST(Regexp, StepBudget) {
    const Regular_Expression re("(x*)(x*)(x*)(x*)(x*)(x*)y|q", A, IM);
    const std::string message = "step budget exhausted (" + std::to_string(step_budget(103)) + " steps for 103 bytes)";
    for (char op : {'r', 'c', 'p', 'a', 'w', 's'}) {
        try {
            operation(re, op, std::string(100, 'x') + "z y", "0");
            ADD_FAILURE() << "no budget error in " << op;
        } catch (const Match_Budget_Error& e) {
            EXPECT_EQ(e.message(), message);
        }
    }
    std::string page, piece = std::string(12, 'x') + "z q ";
    EXPECT_EQ(re.replace_all(piece, "Q"), std::string(12, 'x') + "z Q ");  // one piece is within its budget
    while (page.size() < 50000) page += piece;
    EXPECT_THROW(re.replace_all(page, "Q"), Match_Budget_Error);  // one budget for the whole operation
}

}  // namespace
