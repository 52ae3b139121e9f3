// The rule tester in-process, in a directory of its own: the report, the
// filtered page and the exit status, on good and on broken settings.
#include "zib/rule_tester.hpp"

#include "kelregexp/matcher.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

using zib::asks_for_rule_tester;
using zib::run_rule_tester;

namespace {

namespace fs = std::filesystem;

const std::string page =
    "<html><head><title>Moor news</title></head>\r\n<body><div class=\"ad\">buy</div>\r\n"
    "<p>Brindlemoor filters pages. Brindlemoor!</p></body></html>";

const std::string settings = R"(--- !zib
filter:
  - uri: http://news\.example/.*
    search: \<div class\="ad"\>.*?\</div\>
  - uri: http://other\.example/.*
    search: \<p\>
  - uri: .*
    search: brindlemoor
    replace: <mark>$&</mark>
)";

class Rule_Tester : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("brindlemoor-tester-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
        fs::current_path(dir_);
        write("page.html", page);
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    static void write(const std::string& name, const std::string& text) {
        std::ofstream(name, std::ios::binary) << text;
    }
    static std::string read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int run(std::vector<std::string> arguments) {
        report.clear();
        output.clear();
        arguments.insert(arguments.begin(), "--test");
        return run_rule_tester(arguments, {[&](std::string_view text) {
                                               report += text;
                                               return true;
                                           },
                                           [&](std::string_view text) {
                                               output += text;
                                               return true;
                                           }});
    }
    // The report's line for rule `index` as "rule URI hits steps | note" (the time left out).
    std::string rule_row(std::size_t index) const {
        std::istringstream lines(report);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string rule, uri, hits, steps, time, note;
            fields >> rule >> uri >> hits >> steps >> time;
            if (rule != std::to_string(index)) continue;
            std::getline(fields >> std::ws, note);
            return rule + " " + uri + " " + hits + " " + steps + " | " + note;
        }
        return "(no row)";
    }

    std::string report, output;
    fs::path old_, dir_;
};

TEST_F(Rule_Tester, ReportsHitsAndWritesThePage) {
    write("setting.yaml", settings);
    ASSERT_TRUE(asks_for_rule_tester({"--test", "x", "y"}));
    EXPECT_EQ(run({"http://news.example/today", "page.html"}), 0) << report;
    const std::string want =
        "<html><head><title>Moor news</title></head>\r\n<body>\r\n<p><mark>Brindlemoor</mark> "
        "filters pages. <mark>Brindlemoor</mark>!</p></body></html>";
    EXPECT_EQ(output, want);
    EXPECT_EQ(report.substr(0, report.find('\n')), "3 rules of setting.yaml on page.html (" +
                                                       std::to_string(page.size()) +
                                                       " bytes) for http://news.example/today");
    EXPECT_EQ(rule_row(0).substr(0, 8), "0 yes 1 ");
    EXPECT_EQ(rule_row(1), "1 no - - | ");
    EXPECT_EQ(rule_row(2).substr(0, 8), "2 yes 2 ");
    EXPECT_NE(report.find("2 rules matched the URI, 3 hits; " + std::to_string(page.size()) + " bytes in, " +
                          std::to_string(want.size()) + " bytes out"),
              std::string::npos)
        << report;

    // With -o the page goes to the file and nothing to the page stream.
    EXPECT_EQ(run({"http://news.example/today", "page.html", "-o", "out.html"}), 0);
    EXPECT_EQ(read("out.html"), want);
    EXPECT_EQ(output, "");
    EXPECT_EQ(run({"-o", "out2.html", "http://elsewhere/", "page.html"}), 0);
    EXPECT_EQ(read("out2.html"),
              "<html><head><title>Moor news</title></head>\r\n<body><div class=\"ad\">buy</div>\r\n"
              "<p><mark>Brindlemoor</mark> filters pages. <mark>Brindlemoor</mark>!</p></body></html>");
}

TEST_F(Rule_Tester, BadPatternsAreReportedAndTheOtherRulesRun) {
    write("setting.yaml",
          "--- !zib\nfilter:\n  - uri: .*\n    search: (?1:moor\n  - uri: .*\n    search: news\n"
          "    replace: NEWS\n");
    EXPECT_EQ(run({"http://a/", "page.html"}), 1);
    EXPECT_EQ(report.substr(0, report.find("\n2 rules")),
              "0番目の正規表現が変です\nsearch, at 0: group not closed — (?1:moor");
    EXPECT_EQ(rule_row(0), "0 - - - | bad pattern, skipped");
    EXPECT_EQ(output.find("Moor NEWS"), page.find("Moor news"));
}

TEST_F(Rule_Tester, RuleThatGivesUpIsShownAndThePageKept) {
    write("setting.yaml",
          "--- !zib\nfilter:\n  - uri: .*\n    search: (x*)(x*)(x*)(x*)(x*)(x*)y\n"
          "  - uri: .*\n    search: news\n    replace: NEWS\n");
    const std::string catastrophic = std::string(100, 'x') + "z y";
    write("page.html", catastrophic + " news");
    EXPECT_EQ(run({"http://a/", "page.html"}), 0);
    EXPECT_EQ(output, catastrophic + " NEWS");
    const std::string budget = std::to_string(kelregexp::step_budget(catastrophic.size() + 5));
    EXPECT_EQ(rule_row(0),
              "0 yes - " + budget + " | gave up: step budget exhausted (" + budget + " steps for 108 bytes)");
    // The error line that error.log would get comes with the report.
    EXPECT_NE(report.find("error HTML step budget exhausted (" + budget +
                          " steps for 108 bytes) (Match_Budget_Error) 0 \"http://a/\"\n"),
              std::string::npos)
        << report;
}

TEST_F(Rule_Tester, NothingToTestIsStatusTwo) {
    struct Case {
        const char* settings;  // null: no setting.yaml
        std::vector<std::string> arguments;
        const char* report;  // how the report starts
    } cases[] = {
        {nullptr, {"http://a/", "page.html"}, "FileException: setting.yaml: file not found\n"},
        {"filter:\n", {"http://a/", "page.html"}, "Yaml_Error: YAML Type Error"},
        {"--- !zib\nfilter:\n", {"http://a/", "missing.html"}, "missing.html: file not found\n"},
        {"--- !zib\nfilter:\n", {"http://a/"}, "usage: brindlemoor --test URI FILE [-o OUT]\n"},
        {"--- !zib\nfilter:\n", {"http://a/", "page.html", "-o"}, "usage: brindlemoor --test URI FILE [-o OUT]\n"},
        {"--- !zib\nfilter:\n", {"a", "b", "c"}, "usage: brindlemoor --test URI FILE [-o OUT]\n"},
    };
    for (const auto& c : cases) {
        fs::remove("setting.yaml");
        if (c.settings) write("setting.yaml", c.settings);
        EXPECT_EQ(run(c.arguments), 2) << report;
        EXPECT_EQ(report.substr(0, std::string(c.report).size()), c.report);
        EXPECT_EQ(output, "");
    }
    write("setting.yaml", "--- !zib\nfilter:\n");
    const std::string nowhere = (dir_ / "no" / "such" / "dir").string();
    EXPECT_EQ(run({"http://a/", "page.html", "-o", nowhere}), 2);
    EXPECT_EQ(report.substr(report.rfind('\n', report.size() - 2) + 1, nowhere.size() + 2), nowhere + ": ");
}

}  // namespace
