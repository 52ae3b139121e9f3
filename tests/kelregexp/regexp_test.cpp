// The engine as tables: a pattern, a text and what the search finds (or why
// the pattern does not compile); then the operations, the step budget, and
// sharing one compiled object between threads.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kelregexp/regular_expression.hpp"
#include "win32/windows.hpp"

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
        EXPECT_EQ(e.message(), "Failed to Compile Regular Expression.");
        return "!" + std::to_string(e.position()) + " " + e.reason();
    }
}

// UTF-16 text from ASCII-or-BMP code points.
std::string utf16(std::u16string_view text, bool big_endian) {
    std::string out;
    for (char16_t c : text) {
        char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        out += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

// A page of adverts, links and text, `n` blocks long.
std::string ad_page(int n) {
    std::string page;
    for (int i = 0; i < n; ++i)
        page += "<div class=\"ad\">Banner " + std::to_string(i) +
                "</div>\r\n<p>Words, numbers 12, <b>tags</b></p><a href=\"http://x" + std::to_string(i % 7) +
                ".example/p\">id=" + std::to_string(i * 31) + "</a>\r\n";
    return page;
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
        // Atoms, escapes and classes.
        {{"b", "abc", "1,2"}, {"#65", "xA", "1,2"}, {"#$41", "xA", "1,2"}, {"#300", "x,", "1,2"}},
        {{"\\a\\b\\e\\f\\l\\r\\t\\v\\z", "x\a\b\x1b\f\n\r\t\v\x1a", "1,10"}, {"\\T\\#", "x\t#", "1,3"}},
        {{"\\A\\B\\E\\F\\L\\R\\V\\Z", "x\a\b\x1b\f\n\r\v\x1a", "1,9"}, {"\\0", nul, "1,2"}, {"\\q", "aq", "1,2"}},
        {{"\\.\\(\\\\\\$\\<\\=", "a.(\\$<=", "1,7"}, {"\\d+", "ab123c", "2,5"}, {"\\D+", "ab123c", "2,5"}},
        {{"\\w+", "  a_Z9- ", "2,6"}, {"\\s+", "ab \t\x01\x00x", "2,5"}, {"\\S", "ab c", "2,3"}, {".", "", "none"}},
        {{"a.c", "a\nc", "0,3"}, {"a.c", "a\nc", "none", M}, {"a.c", "a\rc", "none", IM}, {"[abc]+", "xxbcay", "2,5"}},
        {{"[a-c]+", "xxbcay", "2,5"}, {"[]a]+", "x]a]", "1,4"}, {"[\\]", "a\\b", "1,2"}, {"[^a]", "aab", "2,3"}},
        {{"[~a]", "aab", "2,3"}, {"[^a]", "a\rb", "1,2"}, {"[^a]", "a\rb", "2,3", M}, {"[^a]", "a\nb", "2,3", IM}},
        {{"[#48-#57]+", "ab12", "2,4"}, {"[--/]+", "a-./", "1,4"}, {"[a-z]+", "Hello", "1,5"}},
        {{"[a-z]+", "Hello", "0,5", I}, {"[a-z]+", "Hello", "0,5", IM}, {"[^x]", "X", "none", I}},
        // Anchors and word edges (the last letters and digits are word characters too); other anchors, repetitions
        // and look-aheads are checked against PCRE2 in differential_test.cpp.
        {{"%abc", "abc", "0,3"}, {"^b", "a\rb", "2,3", IM}, {"a$", "a\rb", "0,1", IM}, {"<xyz>", "a xyz b", "2,5"}},
        {{"<ad", "aad ad", "4,6"}, {"<XYZ9_>", "a XYZ9_ b", "2,7"}, {"a>", "aZ az a9", "none"}, {"<", "  a", "2,2"}},
        {{">", "ab ", "2,2"}, {"$", "abc", "none"}, {"a|", "xa", "1,2"}, {"x(?1:a|b)(c|d)e", "xbde", "0,4"}},
        {{"(a|ab)*c", "ababc", "4,5"}, {"(a|ab)+c", "abc", "none"}, {"(a?)*b", "aab", "0,3"}, {"(a*)*", "b", "0,0"}},
        {{"(b?)*?c", "x", "none"}, {"\\n*x", "\r\n\n\rx", "0,5"}, {R"(\n)", "\r\nx", "0,2"}},
        {{R"(\n#10)", "\r\n\nx", "0,3"}, {R"(\n#10)", "\r\nx", "none"}, {"=(a|ab)c", "abc", "none"}},
        {{"=abc", "abc", "none"}},
        // Comparisons: mode A chooses by the options, headers switch them; long texts where the first
        // character is rare or absent.
        {{"abc", "xABC", "none"}, {"abc", "xABC", "1,4", I}, {"abc", "xABC", "1,4", IM}},
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
        // Compile errors: where and why.
        {{"|a", "", "!0 empty alternative"}, {"(|a)", "", "!1 empty alternative"}},
        {{"a||b", "", "!2 empty alternative"}, {"()", "", "!0 empty group"}, {"x(?i:)", "", "!1 empty group"}},
        {{"(a", "", "!0 group not closed"}, {"ab(cd(ef)", "", "!2 group not closed"}},
        {{"\\<title\\>(?1:.*?\\</title\\>", "", "!9 group not closed"}, {"a)", "", "!1 unmatched )"}},
        {{")", "", "!0 unmatched )"}, {"]", "", "!0 unescaped ]"}, {"a-", "", "!1 unescaped -"}},
        {{"a*!!", "", "!3 unescaped !"}, {"=(a*)!", "", "!5 unescaped !"}},
        {{std::string("a\0b", 3), "", "!1 NUL byte (write \\0)"}, {"=", "", "!0 look-ahead without an item"}},
        {{"a~)", "", "!1 look-ahead without an item"}, {"=*", "", "!0 look-ahead without an item"}},
        {{"==a", "", "!1 look-ahead directly after a look-ahead"}},
        {{"=~a", "", "!1 look-ahead directly after a look-ahead"}, {"=a*", "", "!2 quantifier after a look-ahead"}},
        {{"a**", "", "!2 second quantifier"}, {"a*??", "", "!3 second quantifier"}},
        {{"(a?!*)", "", "!4 second quantifier"}, {"*", "", "!0 quantifier without an item before it"}},
        {{"a|?b", "", "!2 quantifier without an item before it"}},
        {{"(+a)", "", "!1 quantifier without an item before it"}, {"a#", "", "!1 # without a number"}},
        {{"[#x]", "", "!1 # without a number"}, {"#$g", "", "!1 $ without hexadecimal digits"}},
        {{"(?$:a)", "", "!2 $ without hexadecimal digits"}, {"ab\\", "", "!2 \\ at the end of the pattern"}},
        {{"[", "", "!0 class not closed"}, {"a[]", "", "!1 class not closed"}, {"[a-]", "", "!0 class not closed"}},
        {{"[a-", "", "!0 class not closed"}, {"[^]", "", "!0 class not closed"}},
        {{"?", "", "!1 option header not ended by :"}, {"(?i)", "", "!3 option header not ended by :"}},
        {{"?i;a", "", "!2 option header not ended by :"}, {"(?1a:b)", "", "!3 option header not ended by :"}}};
    for (const auto& line : cases)
        for (const auto& c : line)
            EXPECT_EQ(c.want ? span_of(c.pattern, c.text, c.mode, c.options) : "", c.want ? c.want : "")
                << c.pattern << " on " << c.text << " options " << c.options << " mode " << c.mode;
}

// Every line in both byte orders of UTF-16.
TEST(Regexp, SearchSixteenBit) {
    const struct {
        const char* pattern = "";
        std::u16string text;
        const char* want = "none";
        int options = 0;
    } cases[][5] = {
        {{"b", u"ab", "2,4"}, {"#$3042", u"x\u3042", "2,4"}, {"\xE1", u"x\u00E1", "2,4"}, {"\x80", u"\u20AC", "0,2"}},
        {{".", u"a\n", "0,2", M}, {"a.", u"a\n", "none", M}, {"a.", u"a\u010A", "0,4", M}, {"\\n", u"x\r\n", "2,6"}},
        {{"^b", u"a\nb", "4,6", M}, {"a$", u"a\rb", "0,2", M}, {"<ab>", u"x ab y", "4,8"}, {"<ab>", u"xab", "none"}},
        {{"ABC", u"abc", "0,6", I}, {"ABC", u"abc", "0,6", IM}, {"[a-c]+", u"xAbCd", "2,8", I}},
        {{"#$30A2", u"x\u3042", "none"}, {"#$30A2", u"x\u3042", "2,4", KANA}, {"#$FF21", u"xA", "none", M}},
        {{"#$FF21", u"xA", "2,4", WIDTH}, {"#$FF41", u"xA", "2,4", WIDTH | I}, {"#$FF71", u"x\u30A2", "2,4", WIDTH}}};
    for (bool big : {false, true}) {
        for (const auto& line : cases)
            for (const auto& c : line)
                EXPECT_EQ(span_of(c.pattern, utf16(c.text, big), big ? S : W, c.options), c.want) << c.pattern;
        EXPECT_EQ(span_of("b", utf16(u"ab", big) + "b", big ? S : W), "2,4");
        EXPECT_EQ(span_of(".", utf16(u"a", big).substr(0, 1), big ? S : W), "none");
    }
}

TEST(Regexp, CompilesOrNot) {
    for (const char* bad : {"-", "!", "~", "a=", "~)", "a+!?", "#", "#$", "\\", "[]", "[a", "[^", "(?x", "?i", "?1"})
        EXPECT_EQ(span_of(bad, "")[0], '!') << bad;
    for (const char* good : {"", "?1:", "?i:", "(a|)", "(=a)*", "[]]", "[^]]", "[a-z0-9_]", "\\n*", "#65#$41",
                             "\\!\\=\\~\\-\\]", "(?1:x)(?$1F:y)", "?ium-i+:a", "(?um-:a)", "(?NALUWSEmbkix:a)",
                             "a*!b+?c??d?!", "%a$", "(?4294967295:a)", "#99999999999999999999"})
        EXPECT_NE(span_of(good, "")[0], '!') << good;
    EXPECT_EQ(span_of("a", "", mode_count), "!0 no such encoding mode");
    // Nesting is bounded instead of overflowing the stack; flat patterns need no recursion per item.
    EXPECT_EQ(span_of(nested(max_nesting + 1), ""), "!" + std::to_string(max_nesting) + " groups nested too deeply");
    EXPECT_EQ(span_of(nested(100000), "")[0], '!');
    std::string flat, looks;
    for (int i = 0; i < 100000; ++i) flat += "a?a?", looks += "=a";
    EXPECT_EQ(span_of(flat, "b"), "0,0");
    EXPECT_EQ(span_of(looks, "b"), "none");
    // A header at the pattern start sets the mode and the options of the whole pattern.
    const struct {
        const char* pattern = nullptr;
        int mode, options, want_mode, want_options;
    } headers[][3] = {{{"abc", A, IM, A, IM}, {"?w:a", A, 0, W, 0}, {"?iu:a", N, 0, U, I}},
                      {{"?m-i-:a", A, IM, A, 0}, {"?AN:a", U, 0, N, 0}, {"?x+b:a", A, 0, A, LOC | option_ignore_width}},
                      {{"(?w:a)", A, 0, A, 0}, {"?1:a", L, option_ignore_kana, L, option_ignore_kana}},
                      {{"?ek:a", A, M, E, option_ignore_kana | M}}};
    for (const auto& line : headers)
        for (const auto& h : line) {
            if (!h.pattern) continue;
            Regular_Expression re(h.pattern, h.mode, h.options);
            EXPECT_EQ(re.encoding_mode() * 100 + re.options(), h.want_mode * 100 + h.want_options) << h.pattern;
        }
}

std::string joined(const std::vector<std::string_view>& pieces) {
    std::string out;
    for (auto piece : pieces) out.append(piece) += "|";
    return out;
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
        case 'p': return joined(re.split(text));
        case 'a': return joined(re.find_all(text));
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
        {{"a*", 'w', "aaa", "yes"}, {"a*?", 'w', "aaa", "no"}, {"a+?$", 'w', "aaa", "yes"}, {"?1:", 'w', "", "yes"}},
        {{"http://[^/]*/ads/.*", 'w', "http://example.com/ads/x.gif", "yes", "", I}},
        {{"http://[^/]*/ads/.*", 'w', "http://example.com/img/x.gif", "no", "", I}},
        // Searches never start at the text end; ^ sees the real text start.
        {{"", 'c', "", "-1"}, {"", 'c', "ab", "0"}, {"$", 'c', "abc", "-1"}, {"$", 'c', "a\nb", "1", "", M}},
        {{"b", 's', "abcb", "1:3,4", "2"}, {"b", 's', "abcb", "0:-1,-1", "4"}, {"b", 's', "abcb", "0:-1,-1", "99"}},
        {{"b", 's', "abcb", "0:-1,-1", "-1"}, {"^a", 's', "aaa", "0:-1,-1", "1"}},
        // Captures: the last report wins, even one that backtracking gives back; only a success reports.
        {{"(?1:[a-z]+)\\=(?2:[0-9]+)", 'c', "x id=42", "2 1=id 2=42"}, {"(?1:[a-z])*[a-z]", 'c', "abc", "0 1=c"}},
        {{"(?1:a(?1:b))", 'c', "ab", "0 1=b"}, {"(?1:a)(?1:b)", 'c', "ab", "0 1=a"}, {"(?1:a)x|b", 'c', "ab", "1"}},
        {{"(?$1F:x)(?4294967295:y)", 'c', "xy", "0 -1=y 31=x"}, {"?1:", 'c', "a", "0"}},
        {{"~(?1:[a-z]+)\\d", 'c', "ab1", "2 1=b"}},
        // Split and find_all: empty matches move on by one character and lose nothing.
        {{",", 'p', "a,,b", "a||b|"}, {",", 'p', "a,", "a||"}, {",", 'p', "", "|"}, {"[0-9]+", 'a', "a1b22", "1|22|"}},
        {{"[0-9]+", 'a', "ab", ""}, {"^a", 'p', "aaa", "||||"}, {"x*", 'p', "abc", "|a|b|c|"}},
        {{"x*", 'a', "axxb", "|xx||"}, {"", 'a', "ab", "||"}},
        // replace_all and its templates.
        {{"b", 'r', "abcb", "a[b]c[b]", "[$&]"}, {"b", 'r', "ab", "aa|", "$`|"}, {"b", 'r', "abc", "a<c>c", "<$'>"}},
        {{"b", 'r', "abc", "a$x$$c", "$1$x$$"}, {"b", 'r', "abc", "ax$c", "x$"}, {"^a", 'r', "aaa", "-aa", "-"}},
        {{"(?1:src|href)\\=\"http://(?2:[^\"/]*)/", 'r', "<a HREF=\"http://ads.example/x\">",
          "<a HREF=\"http://127.0.0.1:8080/ads.example/x\">", "$1=\"http://127.0.0.1:8080/$2/", IM}},
        {{"x*", 'r', "axb", "-a--b", "-"}, {"", 'r', "ab", "-a-b", "-"}, {"<", 'r', "ab cd", "|ab |cd", "|"}},
        {{"zz", 'r', "", "", "-"}, {"(?1:a)|(?2:b)", 'r', "ab", "[a][b]", "[$1$2]"}}};
    for (const auto& line : cases)
        for (const auto& c : line) {
            if (!c.want) continue;
            EXPECT_EQ(operation(Regular_Expression(c.pattern, A, c.options), c.op, c.text, c.arg), c.want)
                << c.pattern << " " << c.op << " " << c.text;
        }
    EXPECT_EQ(Regular_Expression("?w:x*", A, 0).split(utf16(u"ab", false)).size(), 3u);  // steps of one unit
    Regular_Expression re("a+", A, 0);
    Regular_Expression::Captures captures{{3, "three"}};
    EXPECT_EQ(re.expand_template("$3$4$&$`$'", "p", "m", "s", captures), "threemps");
    EXPECT_EQ(captures.size(), 2u);  // looked-up numbers are added
    const std::string text = "baab";
    const char* p = text.data();
    EXPECT_FALSE(re.match_at({text.data(), text.data() + 4, nullptr, nullptr}, p));
    EXPECT_EQ(p, text.data());
    EXPECT_TRUE(re.match_at({text.data(), text.data() + 4, nullptr, nullptr}, ++p));
    EXPECT_EQ(p, text.data() + 3);
}

TEST(Regexp, NextPositionByMode) {
    const char text[] = "\xC3\xA9\xE3\x81\x82\x8E\xA1\xF0x";
    const std::tuple<int, int, int> cases[] = {{N, 0, 1}, {A, 0, 1}, {L, 0, 1}, {U, 0, 2}, {U, 2, 3},
                                               {U, 7, 1}, {U, 3, 1}, {W, 0, 2}, {S, 0, 2}, {E, 0, 2},
                                               {E, 5, 2}, {E, 7, 2}, {E, 8, 1}};
    for (const auto& [mode, offset, want] : cases)
        EXPECT_EQ(Regular_Expression("", mode, 0).next_position(text + offset) - (text + offset), want)
            << mode << offset;
}

// The search skips positions where no match can start (vector and memchr scans); it must find exactly
// the leftmost position where matching succeeds, tried one by one, around 32-byte boundaries too.
TEST(Regexp, SearchAgreesWithMatchingAtEveryPosition) {
    const char* words[] = {"Banner", "sponsoR",   "popups", "adserver", "<SCRIPT type=", "zQ",    "c7x",  "HREF=\"",
                           "e\xC8",  "tracking_", "x",      "\xC5q",    "\xE5Q",         "\xC5-", "\xF7q"};
    std::string text;
    for (int i = 0; text.size() < 6000; ++i)
        text += words[(i * 7) % std::size(words)] + std::string((i * 13) % 37, i % 3 ? ' ' : 'e') + " ";
    for (const char* pattern : {"<(banner|sponsor|tracking|popup|adserver)>", "\\<script type\\=", "zq", "[a-f][0-9]x",
                                "(?1:src|href)\\=\"", "e#200", "?i:[#192-#214][a-z]"}) {
        const Regular_Expression re(pattern, A, pattern[0] == '?' ? 0 : IM);  // the last: bytes above 0x7F, no locale
        const auto size = static_cast<std::ptrdiff_t>(text.size());
        std::vector<std::ptrdiff_t> next(text.size() + 1, -1);
        int found = 0;
        for (std::ptrdiff_t q = size - 1; q >= 0; --q) {
            const char* p = text.data() + q;
            next[q] = re.match_at({text.data(), text.data() + size, nullptr, nullptr}, p) ? q : next[q + 1];
            found += next[q] == q;
        }
        EXPECT_GT(found, 10) << pattern;
        for (std::ptrdiff_t from = 0, s, e; from < size; ++from) {
            re.search(text, from, s, e);
            ASSERT_EQ(s, next[from]) << pattern << " from " << from;
        }
    }
}

// One compiled object used by 8 threads at once gives each the results it gives one thread alone.
TEST(Regexp, OneObjectSharedByEightThreads) {
    const std::string page = ad_page(300);
    const char* shared[][2] = {{"\\<div class\\=\"ad\"\\>.*?\\</div\\>", ""},
                               {"(?1:[a-z]+)\\=(?2:[0-9]+)", "$2=$1"},
                               {"(?1:href)\\=\"http://(?2:[^\"/]*)/", "$1=\"http://proxy/$2/"},
                               {"(?1:[a-z])*[a-z]~x", "[$1]"},
                               {"(?3:\\d)+!|=(?4:b)a", "<$3$4>"}};
    std::vector<std::unique_ptr<Regular_Expression>> patterns;
    auto results = [&](std::size_t i) {
        std::string all;
        for (char op : {'r', 'c', 'a', 'p', 'w'}) all += operation(*patterns[i], op, page, shared[i][1]) + "#";
        return all;
    };
    std::vector<std::string> alone;
    for (const auto& s : shared) patterns.push_back(std::make_unique<Regular_Expression>(s[0], A, IM));
    for (std::size_t i = 0; i < patterns.size(); ++i) alone.push_back(results(i));
    std::atomic<int> ready{0}, wrong{0};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (ready.fetch_add(1); ready.load() < 8;) std::this_thread::yield();
            for (std::size_t k = t; k < t + 3 * patterns.size(); ++k)  // each thread starts with another pattern
                wrong += results(k % patterns.size()) != alone[k % patterns.size()];
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}

// Long lines on a thread with the 1 MiB stack Windows gives a thread by default.
TEST(Regexp, RunsOnAOneMebibyteStack) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 1 << 20), 0);
    pthread_t thread;
    std::string result;
    auto work = [](void* out) -> void* {
        const std::string line = std::string(1 << 20, 'a') + "</div>";
        for (const char* p : {"?im:a.*?\\</div\\>", "?im:(a|b)*?\\<", "(a|b)*\\<", "(x|a)*?\\<", "(?1:a)+!\\<"})
            *static_cast<std::string*>(out) += span_of(p, line) + " ";
        *static_cast<std::string*>(out) += span_of(nested(max_nesting), "a");
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, work, &result), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    const std::string n = "0," + std::to_string((1 << 20) + 6) + " ", k = "0," + std::to_string((1 << 20) + 1) + " ";
    EXPECT_EQ(result, n + k + k + k + k + "0,1");
}

// A pattern that backtracks without end gives up in every operation after a number of steps bounded by
// the text's size, one budget for the whole operation; ordinary patterns never come near it.
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
    EXPECT_EQ(re.replace_all("xxxxy xy", "-"), "- -");
    std::string page, segment = std::string(12, 'x') + "z q ";
    Regular_Expression::Replace_Stats stats;
    EXPECT_EQ(re.replace_all(segment, "Q", stats), std::string(12, 'x') + "z Q ");
    EXPECT_LT(stats.steps, step_budget_base);
    EXPECT_GT(stats.steps * 10, step_budget_per_byte * static_cast<std::int64_t>(segment.size()));
    while (page.size() < 50000) page += segment;
    EXPECT_THROW(re.replace_all(page, "Q"), Match_Budget_Error);
    page = ad_page(500);
    for (const char* pattern : {"\\<div class\\=\"ad\"\\>.*?\\</div\\>", "(?1:src|href)\\=\"http://(?2:[^\"/]*)/",
                                "banner|sponsor|tracking", "\\<(?1:\\w+)[^>]*\\>", ".*x"}) {
        Regular_Expression(pattern, A, IM).replace_all(page, "$1", stats = {});
        EXPECT_LT(stats.steps, 20 * static_cast<std::int64_t>(page.size())) << pattern;
    }
}

// A capture callback that matches with another pattern on the same thread gets state of its own.
TEST(Regexp, NestedMatchOnOneThread) {
    const Regular_Expression outer("(?1:[a-z]+)(?2:[0-9]+)", A, 0), inner("[0-9]+", A, 0);
    std::pair<const Regular_Expression*, std::string> context{&inner, ""};
    auto callback = [](std::int32_t number, const char* start, const char* end, void* c) {
        auto& [re, seen] = *static_cast<decltype(context)*>(c);
        const std::string part(start, end);
        seen += std::to_string(number) + ":" + part + ":" + std::to_string(re->find("ab" + part)) + " ";
    };
    const std::string text = "abc123!";
    const char* position = text.data();
    ASSERT_TRUE(outer.match_at({text.data(), text.data() + text.size(), callback, &context}, position));
    EXPECT_EQ(position, text.data() + 6);
    EXPECT_EQ(context.second, "2:123:2 1:abc:-1 ");
}

// The code-page and comparison calls the engine relies on: the system's on Windows, ours elsewhere.
TEST(Regexp, CodePageAndComparison) {
    for (int b = 0; b < 256; ++b) EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(b))) << b;
    wchar_t wide[4] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80\xE9", 2, wide, 4), 2);
    EXPECT_EQ(wide[0] * 0x10000 + wide[1], 0x20AC00E9);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab", -1, nullptr, 0), 3);  // the size needed
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);     // too small
    // Comparisons: equal, less or greater as the locale orders, not as bytes do; 0 for anything but equal.
    const int IC = NORM_IGNORECASE, LT = CSTR_LESS_THAN, EQ = CSTR_EQUAL, GT = CSTR_GREATER_THAN;
    const std::tuple<DWORD, const char*, const char*, int> ansi[][4] = {
        {{0, "a", "a", EQ}, {0, "a", "A", 0}, {IC, "a", "A", EQ}, {0, "a", "b", LT}},
        {{IC, "\xE9", "\xC9", EQ}, {IC, "e", "\xE9", 0}, {0, "B", "a", GT}, {0, "a", "B", LT}}};
    for (const auto& line : ansi)
        for (const auto& [flags, a, b, want] : line) {
            const int got = CompareStringA(0x0409, flags, a, -1, b, -1);
            EXPECT_TRUE(want ? got == want : got != EQ && got != 0) << a << " " << b;
        }
}

}  // namespace
