// apply_rules as the proxy runs it on an HTML answer: the 20 rules of
// setting.yaml (next to this file) over the generated ~1 MiB page, against
// a request URI that 16 of them match, and the same page with a URI that
// no rule matches (the cost of the URI tests alone). Closes with the steps
// each rule takes against its step budget.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "base/streams.hpp"
#include "kelregexp/matcher.hpp"
#include "zib/log_stream.hpp"
#include "zib/rule_set.hpp"

using zib::apply_rules;
using zib::apply_rules_observed;
using zib::current_rules;
using zib::load_settings_text;
using zib::Log_Stream;
using zib::Rule_Outcome;

using base::error_log;
using base::window_log;

namespace {

std::string read_file(const char* name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot read ") + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string& page() {
    static const std::string text = read_file(ZIB_BENCH_PAGE);
    return text;
}

// The "Hit" lines go to a log stream without a window: formatted and split
// as in the program, then dropped, so the figure is the rules' own cost.
Log_Stream quiet_log;

void load_rules() {
    static const bool loaded = [] {
        window_log = &quiet_log;
        error_log = &quiet_log;
        load_settings_text(read_file(ZIB_BENCH_SETTINGS));
        const auto list = current_rules();
        if (list->size() != 20) throw std::runtime_error("the settings should hold 20 rules");
        for (std::size_t i = 0; i < list->size(); ++i)
            if (!(*list)[i].valid) throw std::runtime_error("rule " + std::to_string(i) + " does not compile");
        return true;
    }();
    (void)loaded;
}

void run(benchmark::State& state, const char* uri, int expected_hits) {
    load_rules();
    int hits = 0;
    for (const auto& rule : *current_rules()) hits += rule.uri_pattern->matches_whole(uri) ? 1 : 0;
    if (hits != expected_hits) {
        state.SkipWithError(("the URI matches " + std::to_string(hits) + " rules").c_str());
        return;
    }
    std::size_t out_size = 0;
    for (auto _ : state) {
        std::string out = apply_rules(uri, page());
        out_size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page().size()));
    state.counters["page_bytes"] = static_cast<double>(page().size());
    state.counters["out_bytes"] = static_cast<double>(out_size);
    state.counters["rules_hit"] = hits;
}

void BM_apply_rules_20(benchmark::State& state) { run(state, "http://www.example.com/index.html", 16); }
void BM_apply_rules_no_hit(benchmark::State& state) { run(state, "https-less://nowhere/", 0); }

BENCHMARK(BM_apply_rules_20)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_apply_rules_no_hit)->Unit(benchmark::kMicrosecond);

// The steps each rule takes on the page, against the step budget.
void print_steps() {
    load_rules();
    const auto budget = kelregexp::step_budget(page().size());
    std::printf("\nsteps per rule on the %zu-byte page (budget %lld):\n", page().size(),
                static_cast<long long>(budget));
    apply_rules_observed("http://www.example.com/index.html", page(), [&](const Rule_Outcome& o) {
        if (!o.uri_matched) return;
        std::printf("  rule %2zu: %6zu hits, %9lld steps = %.4f per byte, %.6f of the budget\n", o.index, o.replaced,
                    static_cast<long long>(o.steps), static_cast<double>(o.steps) / page().size(),
                    static_cast<double>(o.steps) / budget);
    });
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    print_steps();
    benchmark::Shutdown();
}
