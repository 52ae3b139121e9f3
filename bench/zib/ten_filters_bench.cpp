// The ten typical filters of bench/filters/setting.yaml over the generated
// ~1 MiB page, as the proxy applies them to an HTML answer: one page at a
// time, and two pages filtered at once on two threads (goal: two at once
// take at most 1.3 times as long as one). Closes with the ratio and, per
// rule, the steps it took against its step budget.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/streams.hpp"
#include "kelregexp/matcher.hpp"
#include "zib/rule_set.hpp"

using zib::apply_rules;
using zib::apply_rules_observed;
using zib::Bad_Pattern;
using zib::bad_pattern_text;
using zib::current_rules;
using zib::load_settings_text;
using zib::Rule_Outcome;

using base::error_log;
using base::File_Stream;
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

// The "Hit" lines are formatted and dropped: the figure is the rules' own cost.
struct Quiet_Stream : File_Stream {
    void write_string(std::string_view) override {}
} quiet;

constexpr const char* uri = "http://www.example.com/index.html";

void load_rules() {
    static const bool loaded = [] {
        window_log = &quiet;
        error_log = &quiet;
        load_settings_text(read_file(ZIB_BENCH_FILTERS),
                           [](const Bad_Pattern& bad) { throw std::runtime_error(bad_pattern_text(bad)); });
        if (current_rules()->size() != 10) throw std::runtime_error("the filters should be ten rules");
        return true;
    }();
    (void)loaded;
}

std::map<std::string, double> seconds;       // per iteration, by benchmark name
std::map<std::string, double> cpu_per_page;  // milliseconds per page or loop, by benchmark name

// The wall time of `count` jobs run at once, each on a thread of its own (as
// that many connections would filter their pages), with `prepare` run before
// the clock starts.
template <class Prepare, class Job>
void at_once(benchmark::State& state, int count, Prepare&& prepare, Job&& job) {
    // Processor time of the whole process (every thread): if jobs run at once
    // take each no more of it than one alone, nothing is serialised and only
    // free cores are needed for the wall time to hold.
    const std::clock_t cpu_start = std::clock();
    for (auto _ : state) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (int i = 1; i < count; ++i) threads.emplace_back([&job, i] { job(static_cast<std::size_t>(i)); });
        job(0);
        for (auto& thread : threads) thread.join();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["cpu_ms_per_job"] = 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC /
                                       static_cast<double>(state.iterations() * count);
}

// Pages as the relay hands them over: a body of its own for each, moved in.
void filter_at_once(benchmark::State& state, int pages) {
    load_rules();
    const auto count = static_cast<std::size_t>(pages);
    std::vector<std::string> in(count), out(count);
    at_once(
        state, pages, [&] { in.assign(count, page()); },
        [&](std::size_t i) { out[i] = apply_rules(uri, std::move(in[i])); });
    for (const auto& o : out)
        if (o != out[0]) state.SkipWithError("the pages came out different");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * pages *
                            static_cast<std::int64_t>(page().size()));
    state.counters["out_bytes"] = static_cast<double>(out[0].size());
}

void BM_one_page(benchmark::State& state) { filter_at_once(state, 1); }
void BM_two_pages_at_once(benchmark::State& state) { filter_at_once(state, 2); }

// The machine's own answer to the same question: a loop of arithmetic (about
// as long as a page) alone and two at once. On a machine shared with other
// work the second core is not always free; this ratio says how free it was.
void spin(benchmark::State& state, int count) {
    std::vector<unsigned long> sinks(static_cast<std::size_t>(count) * 16);
    at_once(
        state, count, [] {},
        [&](std::size_t i) {
            unsigned long x = 0;
            for (unsigned long k = 0; k < 2'000'000; ++k) {
                x += k * k;
                benchmark::DoNotOptimize(x);
            }
            sinks[i * 16] = x;
        });
    benchmark::DoNotOptimize(sinks.data());
}

void BM_one_loop(benchmark::State& state) { spin(state, 1); }
void BM_two_loops_at_once(benchmark::State& state) { spin(state, 2); }

BENCHMARK(BM_one_page)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseManualTime();
BENCHMARK(BM_two_pages_at_once)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseManualTime();
BENCHMARK(BM_one_loop)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseManualTime();
BENCHMARK(BM_two_loops_at_once)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseManualTime();

// Keeps each run's time per iteration for the closing ratio.
class Ratio_Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration) {
                seconds[run.run_name.function_name] = run.GetAdjustedRealTime();
                const auto cpu = run.counters.find("cpu_ms_per_job");
                if (cpu != run.counters.end()) cpu_per_page[run.run_name.function_name] = cpu->second;
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

void print_steps() {
    std::printf("\nsteps per rule on the %zu-byte page (budget %lld = %lld + %lld per byte):\n", page().size(),
                static_cast<long long>(kelregexp::step_budget(page().size())),
                static_cast<long long>(kelregexp::step_budget_base),
                static_cast<long long>(kelregexp::step_budget_per_byte));
    apply_rules_observed(uri, page(), [](const Rule_Outcome& o) {
        std::printf("  rule %zu: %6zu hits, %9lld steps = %.4f per byte, %.6f of the budget\n", o.index, o.replaced,
                    static_cast<long long>(o.steps), static_cast<double>(o.steps) / page().size(),
                    static_cast<double>(o.steps) / kelregexp::step_budget(page().size()));
    });
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (seconds.count("BM_one_page") && seconds.count("BM_two_pages_at_once")) {
        const double ratio = seconds["BM_two_pages_at_once"] / seconds["BM_one_page"];
        std::printf("\ntwo pages at once / one page: %.2f (goal <= 1.30: %s)\n", ratio,
                    ratio <= 1.3 ? "met" : "NOT met");
        std::printf("processor time per page: %.2f ms alone, %.2f ms two at once\n", cpu_per_page["BM_one_page"],
                    cpu_per_page["BM_two_pages_at_once"]);
        if (seconds.count("BM_one_loop") && seconds.count("BM_two_loops_at_once")) {
            const double machine = seconds["BM_two_loops_at_once"] / seconds["BM_one_loop"];
            std::printf(
                "the machine, two arithmetic loops at once / one: %.2f (1.00 with two free cores); "
                "pages relative to it: %.2f\n",
                machine, ratio / machine);
        }
    }
    print_steps();
    benchmark::Shutdown();
}
