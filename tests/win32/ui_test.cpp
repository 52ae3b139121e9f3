#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "win32/windows.hpp"

// The user-interface calls of our own layer, where the Windows ones are not
// available: message queues across threads. (The list box: through the log
// window in tests/zib. Signals, menus and the log echo on a terminal, and
// windows of other processes: through the real program in tests/program.)

namespace {

using namespace std::chrono_literals;
using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

WNDPROC list_box_proc = nullptr;
std::mutex handlers_mutex;
std::map<HWND, Handler> handlers;

LRESULT CALLBACK test_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    std::unique_lock lock(handlers_mutex);
    const Handler handler = handlers[window];
    lock.unlock();
    if (message == WM_DESTROY) PostQuitMessage(0);
    if (LRESULT result = handler ? handler(window, message, wparam, lparam) : 0) return result;
    return CallWindowProcW(list_box_proc, window, message, wparam, lparam);
}

// A 400 by 300 window derived from the list box, owned by the calling
// thread; `handler` sees every message first (a non-zero result is final).
HWND make_window(Handler handler = {}) {
    static const bool registered = [] {
        WNDCLASSEXW info{};
        info.cbSize = sizeof info;
        GetClassInfoExW(nullptr, L"LISTBOX", &info);
        list_box_proc = std::exchange(info.lpfnWndProc, test_proc);
        info.lpszClassName = L"ui_test_window";
        return RegisterClassExW(&info) != 0;
    }();
    EXPECT_TRUE(registered);
    HWND window = CreateWindowExW(0, L"ui_test_window", L"test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                  nullptr, nullptr);
    std::lock_guard lock(handlers_mutex);
    handlers[window] = std::move(handler);
    return window;
}

// Runs the loop until `done` holds or the quit message comes.
void pump_until(const std::function<bool()>& done) {
    MSG msg;
    while (!done() && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

}  // namespace

TEST(Messages, SendsBetweenTwoThreadsNestAndAFailureInsideReleasesBoth) {
    // The main thread sends to B's window; B's procedure sends back to the
    // main thread's window while the main thread still waits for B.
    bool fail = false;
    HWND main_window = make_window([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_APP && fail) throw std::runtime_error("failed inside a nested send");
        return message == WM_APP ? 7 : 0;
    });
    std::atomic<LRESULT> b_got{-1};
    std::atomic<bool> b_stop{false};
    std::promise<HWND> made;
    std::thread b([&] {
        made.set_value(make_window([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
            if (message != WM_APP + 1) return 0;
            b_got = SendMessageW(main_window, WM_APP, 0, 0);
            std::this_thread::sleep_for(50ms);  // the reply comes late
            return b_got + 1;
        }));
        pump_until([&] { return b_stop.load(); });
    });
    const HWND other = made.get_future().get();
    EXPECT_EQ(SendMessageW(other, WM_APP + 1, 0, 0), 8);
    // The main thread's procedure throws while it runs B's nested send: the
    // error reaches the main thread's send; B's send is released with 0.
    fail = true;
    EXPECT_THROW(SendMessageW(other, WM_APP + 1, 0, 0), std::runtime_error);
    EXPECT_EQ(b_got.load(), 0);
    EXPECT_EQ(SendMessageW(other, WM_NULL, 0, 0), 0);  // both threads still work
    // A notification to the calling thread's own window runs at once.
    EXPECT_THROW(SendNotifyMessageW(main_window, WM_APP, 0, 0), std::runtime_error);
    b_stop = true;
    PostMessageW(other, WM_NULL, 0, 0);
    b.join();
    EXPECT_FALSE(IsWindow(other));  // gone with its thread
    if (DestroyWindow(main_window)) pump_until([] { return false; });
}

namespace {

std::atomic<int> thread_timer_calls{0};
void CALLBACK count_thread_timer(HWND window, UINT message, UINT_PTR, DWORD) {
    if (!window && message == WM_TIMER) ++thread_timer_calls;
}

// Runs the loop for `time`, or until `done` holds; a ticker's posts make sure
// the wait ends even when no timer comes.
void pump_for(
    std::chrono::milliseconds time, HWND window, const std::function<bool()>& done = [] { return false; }) {
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        for (; !stop; std::this_thread::sleep_for(20ms)) PostMessageW(window, WM_NULL, 0, 0);
    });
    const auto deadline = std::chrono::steady_clock::now() + time;
    for (MSG msg; !done() && std::chrono::steady_clock::now() < deadline && GetMessageW(&msg, nullptr, 0, 0) > 0;)
        DispatchMessageW(&msg);
    stop = true;
    ticker.join();
}

}  // namespace

TEST(Timers, ComeWhenDueUntilKilledAndOnlyForTheirOwnThreadsWindows) {
    std::map<UINT_PTR, int> ticks;  // WM_TIMER by id
    HWND window = make_window([&](HWND, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
        if (message == WM_TIMER && lparam == 0) ++ticks[wparam];
        return 0;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SetTimer(window, 7, 0, nullptr), 7u);  // raised to USER_TIMER_MINIMUM
    EXPECT_EQ(SetTimer(window, 8, 60000, nullptr), 8u);
    pump_for(5s, window, [&] { return ticks[7] == 3; });
    EXPECT_EQ(ticks[7], 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * std::chrono::milliseconds(USER_TIMER_MINIMUM));
    EXPECT_EQ(ticks[8], 0);
    // Killed: no more; a second kill and an unknown timer fail.
    EXPECT_TRUE(KillTimer(window, 7));
    EXPECT_FALSE(KillTimer(window, 7));
    EXPECT_FALSE(KillTimer(window, 9));
    pump_for(60ms, window);
    EXPECT_EQ(ticks[7], 3) << "a killed timer still came";

    // Timers of the thread get ids of their own and go to their procedure.
    const UINT_PTR a = SetTimer(nullptr, 0, 10, count_thread_timer);
    const UINT_PTR b = SetTimer(nullptr, 0, 10, count_thread_timer);
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    pump_for(5s, window, [] { return thread_timer_calls >= 4; });
    EXPECT_GE(thread_timer_calls.load(), 4);
    EXPECT_TRUE(KillTimer(nullptr, a));
    EXPECT_TRUE(KillTimer(nullptr, b));

    // Another thread cannot time the window; a window's timers go with it.
    std::thread([&] { EXPECT_EQ(SetTimer(window, 1, 10, nullptr), 0u); }).join();
    EXPECT_EQ(SetTimer(window, 1, 10, nullptr), 1u);
    if (DestroyWindow(window)) pump_until([] { return false; });
    EXPECT_FALSE(KillTimer(window, 1));
    EXPECT_FALSE(KillTimer(window, 8));
}
