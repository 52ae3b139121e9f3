// What one log-window line costs a connection thread. The window (a system
// list box) belongs to a thread of its own that runs a message loop, as the
// program's main thread does; the benchmark's threads are the writers.
//
//   send_round_trip   one SendMessageW(LB_GETCOUNT) to the window's thread
//   line_growing      one line while the list is below its limit (add + count)
//   line_full         one line once the list holds MAX_LOG_LINES (add + count + delete)
//   header_block      write_line of a 9-line response header, as the relay logs it
//   all with 1, 2 and 4 writer threads contending for the stream's lock.
#include <benchmark/benchmark.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "win32/windows.hpp"
#include "zib/log_stream.hpp"
#include "zib/tray_icon.hpp"

namespace {

WNDPROC list_box_proc = nullptr;

LRESULT CALLBACK log_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_LOG_LINES) {
        Log_Stream::take_lines(window, list_box_proc, lparam);
        return 1;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
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

LRESULT item_count() { return SendMessageW(log_window().window, LB_GETCOUNT, 0, 0); }

void empty_list() {
    for (LRESULT n = item_count(); n > 0; --n) SendMessageW(log_window().window, LB_DELETESTRING, 0, 0);
}

void fill_list() {
    for (LRESULT n = item_count(); n < MAX_LOG_LINES; ++n) stream().write_string("filler line\n");
}

bool ready(benchmark::State& state) {
    if (log_window().window) return true;
    state.SkipWithError("no log window");
    return false;
}

void BM_send_round_trip(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state) benchmark::DoNotOptimize(item_count());
}

void BM_line_growing(benchmark::State& state) {
    if (!ready(state)) return;
    if (state.thread_index() == 0) empty_list();
    std::int64_t lines = 0;
    for (auto _ : state) {
        // Kept below the limit: the list is emptied again outside the timing.
        if (++lines % 512 == 0 && state.thread_index() == 0) {
            state.PauseTiming();
            empty_list();
            state.ResumeTiming();
        }
        stream().printf("#%d received %d byte\n", 1234, 4096);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_line_full(benchmark::State& state) {
    if (!ready(state)) return;
    if (state.thread_index() == 0) fill_list();
    for (auto _ : state) stream().printf("#%d received %d byte\n", 1234, 4096);
    state.SetItemsProcessed(state.iterations());
}

void BM_header_block(benchmark::State& state) {
    if (!ready(state)) return;
    if (state.thread_index() == 0) fill_list();
    const std::string header =
        "HTTP/1.1 200 OK\r\nServer: nginx\r\nDate: Sun, 06 Dec 2026 22:00:00 GMT\r\n"
        "Content-Type: text/html\r\nContent-Length: 1048576\r\nLast-Modified: Sun, 06 Dec 2026 21:00:00 GMT\r\n"
        "Connection: close\r\nETag: \"6571f000-100000\"\r\nAccept-Ranges: bytes\r\n\r\n";
    for (auto _ : state) stream().write_line(header);
    state.SetItemsProcessed(state.iterations() * 11);  // 9 header lines, the blank line, write_line's line end
}

BENCHMARK(BM_send_round_trip)->UseRealTime();
BENCHMARK(BM_line_growing)->UseRealTime()->Threads(1)->Threads(2)->Threads(4);
BENCHMARK(BM_line_full)->UseRealTime()->Threads(1)->Threads(2)->Threads(4);
BENCHMARK(BM_header_block)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
