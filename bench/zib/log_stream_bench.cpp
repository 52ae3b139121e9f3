// What one log-window line costs the thread that writes it. The window (a
// system list box) belongs to a thread of its own that runs a message loop,
// as the program's main thread does; the benchmark's threads are the writers.
//
//   line/idle          one printf of one line while the window's thread only takes lines
//   line/busy          the same while the window's thread is busy: it works 200 µs for
//                      every message it handles, taking lines only between
//   line/busy_paced    the same, each writer doing 10 µs of other work between lines
//                      (as connections do), so that the lines do not flood the queue
//   header_block/busy  write_line of a 9-line response header, as the relay logs it
//   send_round_trip    one SendMessageW to the window's thread, for scale: what each
//                      line cost when writers waited for the window
//   with 1, 2 and 4 writer threads. Besides the mean, each reports the median
//   and the 99th percentile of single calls (median_ns, p99_ns).
//
// The goal: a line's median <= 1 µs with the window's thread busy. Where the
// writers flood the window's thread (line/busy with more writers than it can
// keep up with) they wait at the queue's bound by design; the mean time then
// is the rate at which the window's thread takes lines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "win32/windows.hpp"
#include "zib/log_stream.hpp"
#include "zib/tray_icon.hpp"

using zib::Log_Stream;
using zib::tray_icon;
using zib::WM_LOG_LINES;

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT WM_BUSY = WM_APP + 2;  // the window's thread works a while, then posts itself another
constexpr auto busy_work = std::chrono::microseconds(200);

WNDPROC list_box_proc = nullptr;
std::atomic<bool> busy{false};

LRESULT CALLBACK log_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_LOG_LINES: Log_Stream::take_lines(window, list_box_proc, lparam); return 1;
        case WM_TIMER: Log_Stream::take_lines_on_timer(window, list_box_proc, wparam); return 0;
        case WM_BUSY:
            if (busy) {
                const auto until = Clock::now() + busy_work;
                while (Clock::now() < until) {
                }
                PostMessageW(window, WM_BUSY, 0, 0);
            }
            return 0;
        case WM_DESTROY: PostQuitMessage(0); break;
        default: break;
    }
    return CallWindowProcW(list_box_proc, window, message, wparam, lparam);
}

// The window's thread: makes the window, hands out its handle, runs the loop
// until the window is closed.
class Window_Thread {
public:
    Window_Thread() {
        std::promise<HWND> made;
        auto handle = made.get_future();
        thread_ = std::thread([&made] {
            WNDCLASSEXW info{};
            info.cbSize = sizeof info;
            HWND window = nullptr;
            if (GetClassInfoExW(nullptr, L"LISTBOX", &info)) {
                list_box_proc = info.lpfnWndProc;
                info.lpfnWndProc = log_window_proc;
                info.hInstance = GetModuleHandleW(nullptr);
                info.lpszClassName = L"log_stream_bench_window";
                if (RegisterClassExW(&info))
                    window =
                        CreateWindowExW(0, L"log_stream_bench_window", L"log", 0x00FF0000, CW_USEDEFAULT, CW_USEDEFAULT,
                                        400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
            }
            made.set_value(window);
            if (!window) return;
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        });
        window = handle.get();
    }
    ~Window_Thread() {
        if (window) PostMessageW(window, WM_CLOSE, 0, 0);
        thread_.join();
    }

    HWND window = nullptr;

private:
    std::thread thread_;
};

Window_Thread& log_window() {
    static Window_Thread* thread = [] {
        auto* made = new Window_Thread;  // lives to the process end, as the program's window does
        tray_icon.hWnd = made->window;
        return made;
    }();
    return *thread;
}

Log_Stream& stream() {
    static Log_Stream log;
    return log;
}

bool ready(benchmark::State& state) {
    if (log_window().window) return true;
    state.SkipWithError("no log window");
    return false;
}

// Runs `write` once per iteration, timing each call; reports the median and
// the 99th percentile of the calls (each thread its own, averaged over threads).
template <class Write, class Between = void (*)()>
void timed_writes(
    benchmark::State& state, bool window_busy, std::int64_t lines_per_call, Write write, Between between = [] {}) {
    if (!ready(state)) return;
    if (state.thread_index() == 0 && window_busy != busy.exchange(window_busy) && window_busy)
        PostMessageW(log_window().window, WM_BUSY, 0, 0);
    std::vector<std::int64_t> times;
    times.reserve(1 << 20);
    for (auto _ : state) {
        between();
        const auto start = Clock::now();
        write();
        const auto took = Clock::now() - start;
        if (times.size() < times.capacity())
            times.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count());
    }
    state.SetItemsProcessed(state.iterations() * lines_per_call);
    if (times.empty()) return;
    auto quantile = [&](double q) {
        const auto n = static_cast<std::ptrdiff_t>(q * static_cast<double>(times.size() - 1));
        std::nth_element(times.begin(), times.begin() + n, times.end());
        return benchmark::Counter(static_cast<double>(times[static_cast<std::size_t>(n)]),
                                  benchmark::Counter::kAvgThreads);
    };
    state.counters["median_ns"] = quantile(0.5);
    state.counters["p99_ns"] = quantile(0.99);
}

void BM_line(benchmark::State& state, bool window_busy) {
    timed_writes(state, window_busy, 1, [] { stream().printf("#%d received %d byte\n", 1234, 4096); });
}

// As a connection writes: some work between its lines, so that the writers
// together stay below what the window's thread takes (no flood).
void BM_line_paced(benchmark::State& state) {
    const auto gap = std::chrono::microseconds(10);
    timed_writes(
        state, true, 1, [] { stream().printf("#%d received %d byte\n", 1234, 4096); },
        [&] {
            const auto until = Clock::now() + gap;
            while (Clock::now() < until) {
            }
        });
}

void BM_header_block(benchmark::State& state) {
    const std::string header =
        "HTTP/1.1 200 OK\r\nServer: nginx\r\nDate: Sun, 06 Dec 2026 22:00:00 GMT\r\n"
        "Content-Type: text/html\r\nContent-Length: 1048576\r\nLast-Modified: Sun, 06 Dec 2026 21:00:00 GMT\r\n"
        "Connection: close\r\nETag: \"6571f000-100000\"\r\nAccept-Ranges: bytes\r\n\r\n";
    // 9 header lines, the blank line, write_line's line end
    timed_writes(state, true, 11, [&] { stream().write_line(header); });
}

void BM_send_round_trip(benchmark::State& state) {
    if (!ready(state)) return;
    busy = false;
    for (auto _ : state) benchmark::DoNotOptimize(SendMessageW(log_window().window, LB_GETCOUNT, 0, 0));
}

BENCHMARK_CAPTURE(BM_line, idle, false)->UseRealTime()->Threads(1)->Threads(2)->Threads(4);
BENCHMARK_CAPTURE(BM_line, busy, true)->UseRealTime()->Threads(1)->Threads(2)->Threads(4);
BENCHMARK(BM_line_paced)->Name("BM_line/busy_paced")->UseRealTime()->Threads(1)->Threads(2)->Threads(4);
BENCHMARK(BM_header_block)->Name("BM_header_block/busy")->UseRealTime()->Threads(1)->Threads(4);
BENCHMARK(BM_send_round_trip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
