// replace_all in mode A with options I and M (locale comparison, case ignored,
// multi-line), as the rule set runs it, against PCRE2's interpreter and JIT
// (caseless) on the same patterns and templates. All outputs are checked to
// be byte-identical first; a table of MB/s and ratios closes the run.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kelregexp/regular_expression.hpp"
#include "template_expansion.hpp"

using kelregexp::mode_a;
using kelregexp::option_ignore_case;
using kelregexp::option_multiline;
using kelregexp::Regular_Expression;

namespace {

struct Case {
    const char* name;
    const char* ours;
    const char* pcre;  // the same meaning: `.` and negated classes leave out CR and LF (option M)
    const char* template_text;
    bool literal_led;
};

const Case cases[] = {
    {"word", "advertisement", "advertisement", "", true},
    {"tag_open", "\\<script[^>]*\\>", "<script[^>\\r\\n]*>", "<script>", true},
    {"element", "\\<div class\\=\"ad\"\\>.*?\\</div\\>", "<div class=\"ad\">[^\\r\\n]*?</div>", "", true},
    {"five_words", "banner|sponsor|tracking|popup|adserver", "banner|sponsor|tracking|popup|adserver", "", false},
    {"attribute", "(?1:src|href)\\=\"http://(?2:[^\"/]*)/", "(src|href)=\"http://([^\"/\\r\\n]*)/",
     "$1=\"http://127.0.0.1:8080/$2/", false},
    {"absent_word", "zzqqxx", "zzqqxx", "", true},
};

// PCRE2 with our replace_all loop and template rules, so that only the
// matching differs.
class Pcre_Replacer {
public:
    Pcre_Replacer(const char* pattern, bool jit) : jit_(jit) {
        int error;
        PCRE2_SIZE offset;
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                              PCRE2_CASELESS | PCRE2_NEVER_UTF, &error, &offset, nullptr);
        if (!code_) throw std::runtime_error(std::string("PCRE2 does not compile ") + pattern);
        if (jit && pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE) != 0) throw std::runtime_error("no PCRE2 JIT");
        data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
    }
    ~Pcre_Replacer() {
        pcre2_match_data_free(data_);
        pcre2_code_free(code_);
    }

    std::string replace_all(const std::string& text, const std::string& template_text) {
        std::string out;
        std::size_t copied = 0, from = 0;
        auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
        while (from < text.size()) {
            int rc = jit_ ? pcre2_jit_match(code_, subject, text.size(), from, 0, data_, nullptr)
                          : pcre2_match(code_, subject, text.size(), from, 0, data_, nullptr);
            if (rc < 0) break;
            PCRE2_SIZE* v = pcre2_get_ovector_pointer(data_);
            std::size_t s = v[0], e = v[1];
            if (s >= text.size()) break;
            out.append(text, copied, s - copied);
            test::append_expanded(out, template_text, text, s, e, [&](int n) -> std::string_view {
                if (n == 0 || static_cast<std::uint32_t>(n) >= pcre2_get_ovector_count(data_) ||
                    v[2 * n] == PCRE2_UNSET)
                    return {};
                return std::string_view(text).substr(v[2 * n], v[2 * n + 1] - v[2 * n]);
            });
            copied = e;
            from = e == s ? e + 1 : e;
        }
        out.append(text, copied);
        return out;
    }

private:
    bool jit_;
    pcre2_code* code_;
    pcre2_match_data* data_;
};

std::string page;

void run_ours(benchmark::State& state, const Case* c) {
    Regular_Expression re(c->ours, mode_a, option_ignore_case | option_multiline);
    for (auto _ : state) benchmark::DoNotOptimize(re.replace_all(page, c->template_text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void run_pcre(benchmark::State& state, const Case* c, bool jit) {
    Pcre_Replacer re(c->pcre, jit);
    for (auto _ : state) benchmark::DoNotOptimize(re.replace_all(page, c->template_text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

// Keeps every run's rate for the closing table.
class Table_Reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rates;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end() && run.run_type == Run::RT_Iteration)
                rates[run.benchmark_name()] = it->second.value / 1e6;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::ifstream in(KELREGEXP_BENCH_PAGE, std::ios::binary);
    page.assign(std::istreambuf_iterator<char>(in), {});
    if (page.empty()) {
        std::fprintf(stderr, "cannot read %s\n", KELREGEXP_BENCH_PAGE);
        return 1;
    }
    for (const auto& c : cases) {
        Regular_Expression ours(c.ours, mode_a, option_ignore_case | option_multiline);
        std::string want = ours.replace_all(page, c.template_text);
        Pcre_Replacer interpreter(c.pcre, false), jit(c.pcre, true);
        if (interpreter.replace_all(page, c.template_text) != want || jit.replace_all(page, c.template_text) != want) {
            std::fprintf(stderr, "outputs differ for %s\n", c.name);
            return 1;
        }
        std::printf("%-12s output identical (%zu bytes, %zu bytes replaced)\n", c.name, want.size(),
                    page.size() - (want.size() <= page.size() ? want.size() : page.size()));
    }
    for (const auto& c : cases) {
        benchmark::RegisterBenchmark((std::string("kelregexp/") + c.name).c_str(), run_ours, &c);
        benchmark::RegisterBenchmark((std::string("pcre2/") + c.name).c_str(), run_pcre, &c, false);
        benchmark::RegisterBenchmark((std::string("pcre2_jit/") + c.name).c_str(), run_pcre, &c, true);
    }
    benchmark::Initialize(&argc, argv);
    Table_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-12s %12s %12s %12s %10s %10s\n", "pattern", "ours MB/s", "pcre2 MB/s", "jit MB/s", "vs pcre2",
                "vs jit");
    bool goals = true;
    for (const auto& c : cases) {
        double ours = reporter.rates[std::string("kelregexp/") + c.name];
        double interpreter = reporter.rates[std::string("pcre2/") + c.name];
        double jit = reporter.rates[std::string("pcre2_jit/") + c.name];
        if (ours == 0 || interpreter == 0 || jit == 0) continue;
        bool met = ours >= interpreter && (!c.literal_led || ours >= 0.5 * jit);
        goals &= met;
        std::printf("%-12s %12.0f %12.0f %12.0f %9.2fx %9.2fx%s\n", c.name, ours, interpreter, jit, ours / interpreter,
                    ours / jit, met ? "" : "  (below goal)");
    }
    std::printf("goals %s\n", goals ? "met" : "NOT met");
    benchmark::Shutdown();
    return 0;
}
