#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwchar>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "win32/windows.hpp"
#include "zib/log_stream.hpp"
#include "zib/tray_icon.hpp"

using namespace zib;

// The log window as the program makes it: a class derived from the system
// list box, owned by the test's main thread, which runs a message loop only
// when a test says so (otherwise it is "busy").

namespace {

using namespace std::chrono_literals;

WNDPROC list_box_proc = nullptr;
constexpr UINT WM_STAY_BUSY = WM_APP + 7;
std::atomic<bool> staying_busy{false};
std::atomic<int> taken{0}, announcements{0}, timer_looks{0};  // lines taken, WM_LOG_LINES and WM_TIMER handled

LRESULT CALLBACK log_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_LOG_LINES) {
        ++announcements;
        taken += static_cast<int>(Log_Stream::take_lines(window, list_box_proc, lparam));
        return 1;
    }
    if (message == WM_TIMER) {
        ++timer_looks;
        taken += static_cast<int>(Log_Stream::take_lines_on_timer(window, list_box_proc, wparam));
        return 0;
    }
    if (message == WM_STAY_BUSY) {
        // Always something posted: the thread gets no timer messages.
        if (staying_busy) PostMessageW(window, WM_STAY_BUSY, 0, 0);
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return CallWindowProcW(list_box_proc, window, message, wparam, lparam);
}

class Log_Window : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSEXW info{};
        info.cbSize = sizeof info;
        if (!list_box_proc && GetClassInfoExW(nullptr, L"LISTBOX", &info)) {
            list_box_proc = std::exchange(info.lpfnWndProc, log_window_proc);
            info.hInstance = GetModuleHandleW(nullptr);
            info.lpszClassName = L"log_stream_test_window";
            ASSERT_TRUE(RegisterClassExW(&info));
        }
        taken = announcements = timer_looks = returned = number = 0;
        staying_busy = false;
        open_window();
    }
    // Also after a failure: the window goes first, which releases writers
    // waiting at a full queue; then the writers end, then their streams.
    void TearDown() override {
        close_window();
        for (auto& t : writers_) t.join();
        writers_.clear();
        streams_.clear();
    }
    void open_window() {
        tray_icon.hWnd = window = CreateWindowExW(WS_EX_CLIENTEDGE, L"log_stream_test_window", L"log", 0x00FF0000, 0, 0,
                                                  400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
    }
    void close_window() {  // as the Exit command does; the loop runs out with the quit message
        if (MSG msg; DestroyWindow(window))
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    }
    Log_Stream& stream(std::size_t bound = LOG_QUEUE_LINES) { return streams_.emplace_back(bound); }
    // Runs `body` on a thread of its own; `running` counts the unfinished.
    void start_writer(std::function<void()> body) {
        ++running;
        writers_.emplace_back([this, body = std::move(body)] { body(), --running; });
    }
    // The only writer: runs `body` and waits (without pumping) for its end.
    bool write_elsewhere(std::function<void()> body) {
        start_writer(std::move(body));
        return wait_until([&] { return running == 0; });
    }
    LRESULT send(UINT message, WPARAM wparam = 0) const { return SendMessageW(window, message, wparam, 0); }
    std::wstring item(LRESULT i) const {
        std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(0, send(LB_GETTEXTLEN, i))), L'\0');
        return SendMessageW(window, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data())), text;
    }
    std::wstring shown() const {  // the items, each followed by "|"
        std::wstring all;
        for (LRESULT i = 0; i < send(LB_GETCOUNT); ++i) all += item(i) + L'|';
        return all;
    }
    // Waits until `done` holds (true), or for at most 10 s; with `pump` the
    // message loop runs, woken by a ticker (sent messages alone do not end
    // GetMessageW), otherwise the main thread stays busy.
    bool wait_until(const std::function<bool()>& done, bool pump = false) {
        std::atomic<bool> stop{false};
        std::thread ticker([&] {
            for (; pump && !stop; std::this_thread::sleep_for(20ms)) PostMessageW(window, WM_NULL, 0, 0);
        });
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        for (MSG msg; !done() && std::chrono::steady_clock::now() < deadline;)
            if (!pump)
                std::this_thread::sleep_for(1ms);
            else if (GetMessageW(&msg, nullptr, 0, 0) > 0)
                DispatchMessageW(&msg);
        stop = true;
        ticker.join();
        return done();
    }

    HWND window = nullptr;
    // Shared with the writers, so that they outlive a failed test's body.
    std::atomic<int> running{0}, returned{0}, number{0};
    std::mutex turn;
    std::vector<std::thread> writers_;
    std::deque<Log_Stream> streams_;
};

}  // namespace

TEST_F(Log_Window, LinesBytesAndEncodings) {
    // Written on the window's own thread: shown at once, without pumping.
    // printf by the C rules, without a length limit.
    EXPECT_EQ(stream().printf("%d|%.*s\n%s\n", -2147483647 - 1, 3, "abcdef", std::string(100000, 'x').c_str()), 100017);
    EXPECT_EQ(shown(), L"-2147483648|abc|" + std::wstring(100000, L'x') + L"|");
    // Ill-formed: a stray continuation, overlong (2 and 3 bytes), truncated,
    // a surrogate, above U+10FFFF, a lead byte of five, a bad byte in ASCII.
    const struct {
        const char* name;
        std::vector<std::string> writes;
        std::vector<std::wstring> shown;  // after each write
    } cases[] = {{"completed by later writes, CR LF split",
                  {"par", "tial\r", "\nnext", "\n"},
                  {L"", L"", L"partial|", L"partial|next|"}},
                 {"zero byte ends the text", {std::string("x\0y\n", 4)}, {L"x|"}},
                 {"empty lines; CR elsewhere stays", {"\n\r\n", "a\rb\nc\r\r\n"}, {L"||", L"||a\rb|c\r|"}},
                 {"UTF-8 split across writes",
                  {"\xE6\x97", "\xA5\xE6\x9C\xAC\n\xF0\x9F\x98\x80\xEF\xBF\xBF\n"},
                  {L"", L"日本|\U0001F600\uFFFF|"}},
                 {"ill-formed",
                  {"\x80\n\xC0\xAF\n\xE0\x80\xAF\n\xE3\x81\n\xED\xA0\x80\n\xF4\x90\x80\x80\n\xF8\x88\x80\x80\x80\na\xFF"
                   "b\n"},
                  {L"(BIN)|(BIN)|(BIN)|(BIN)|(BIN)|(BIN)|(BIN)|(BIN)|"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown(), SetUp();
        Log_Stream& log = stream();
        for (std::size_t i = 0; i < c.writes.size(); ++i)
            EXPECT_EQ((log.write_string(c.writes[i]), shown()), c.shown[i]) << i;
    }
}

TEST_F(Log_Window, WritersQueueUpToTheBoundAndThenWaitForTheMainThreadAndNothingIsLost) {
    // The main thread is busy at first: writes return until the queue is full
    // and stop there. Then it takes lines: the writers go on and every line
    // arrives, each write's lines together, each writer's in order and, for
    // writers taking turns (under a lock of the test's own), all writes in
    // the order made.
    static const struct {
        const char* name;
        std::size_t bound;
        int writers, writes, lines;  // each writer's writes, of `lines` lines each
        bool turns;
        bool full_while_taken;  // the queue is full again and again while the main thread takes lines
    } cases[] = {{"8 writers, the program's bound", LOG_QUEUE_LINES, 8, 40, 3, false, false},
                 {"8 writers taking turns, bound 0 acts as 1", 0, 8, 40, 1, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown(), SetUp();
        Log_Stream& log = stream(c.bound);
        for (int id = 0; id < c.writers; ++id)
            start_writer([&, id] {
                for (int w = 0; w < c.writes; ++w, ++returned) {
                    std::unique_lock guard(turn, std::defer_lock);
                    if (c.turns) guard.lock();
                    std::string text;
                    for (int n = w * c.lines; n < (w + 1) * c.lines; ++n)
                        text += std::to_string(id) + " " + std::to_string(n) + " " + std::to_string(number++) + "\n";
                    log.write_string(text);
                }
            });
        const int room = static_cast<int>(std::max<std::size_t>(c.bound, 1));                 // in lines
        const int at_bound = std::min(c.writers * c.writes, (room + c.lines - 1) / c.lines);  // writes that find room
        EXPECT_TRUE(wait_until([&] { return returned >= at_bound; }));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(returned.load(), at_bound) << "writers went beyond the bound";
        EXPECT_EQ(taken.load(), 0);

        const int total = c.writers * c.writes * c.lines;
        ASSERT_TRUE(wait_until([&] { return running == 0 && taken >= total; }, true));
        ASSERT_EQ(send(LB_GETCOUNT), total);                         // all within MAX_LOG_LINES
        std::vector<int> next(static_cast<std::size_t>(c.writers));  // each writer's next line
        int id = -1, n = 0, made = 0, last_id = -1, last_made = -1;
        for (LRESULT i = 0; i < total; ++i, last_id = id, last_made = made) {
            ASSERT_EQ(swscanf(item(i).c_str(), L"%d %d %d", &id, &n, &made), 3) << i;
            ASSERT_EQ(n, next.at(static_cast<std::size_t>(id))++) << i;
            ASSERT_TRUE(n % c.lines == 0 || id == last_id) << "a write's lines apart at " << i;
            ASSERT_TRUE(!c.turns || made == last_made + 1) << i;
        }
        for (int count : next) EXPECT_EQ(count, c.writes * c.lines);
        // A writer waiting at the bound asks the window's thread at once
        // rather than waiting for its timer.
        if (c.full_while_taken) {
            EXPECT_GT(announcements.load(), timer_looks.load());
        }
    }
}

TEST_F(Log_Window, TheMainThreadNeverWaitsAndAnnouncementsOutlivingTheirStreamOrWindowLoseNothing) {
    {
        Log_Stream gone;  // its announcement still waits for the main thread
        ASSERT_TRUE(write_elsewhere([&] { gone.printf("announced, never taken\n"); }));
    }
    // A writer waits at a full queue while the main thread does not pump; the
    // main thread's write goes through at once, after the queued lines, and
    // so makes room: the writer's last lines ride on its first announcement.
    Log_Stream& log = stream(4);
    start_writer([&] {
        for (int i = 0; i < 6; ++i, ++returned) log.printf("writer %d\n", i);
    });
    ASSERT_TRUE(wait_until([&] { return returned == 4; }));
    log.printf("main\n");
    EXPECT_EQ(shown(), L"writer 0|writer 1|writer 2|writer 3|main|");
    EXPECT_EQ(announcements.load(), 1);  // its own, handled at once
    ASSERT_TRUE(wait_until([&] { return running == 0; }));
    ASSERT_TRUE(wait_until([&] { return taken >= 7 && announcements == 3; }, true));  // with the gone stream's
    EXPECT_EQ(shown(), L"writer 0|writer 1|writer 2|writer 3|main|writer 4|writer 5|");

    // Announced to a window that goes before taking it: the next one takes it.
    ASSERT_TRUE(write_elsewhere([&] { log.printf("to the first window\n"); }));
    close_window();
    open_window();
    ASSERT_TRUE(write_elsewhere([&] { log.printf("to the second\n"); }));
    ASSERT_TRUE(wait_until([&] { return taken >= 9; }, true));
    EXPECT_EQ(shown(), L"to the first window|to the second|");
    // Writers waiting at the bound are released when the window goes; after
    // that, writes are lost and none waits, also beyond the bound.
    for (int i = 0; i < 3; ++i) start_writer([&] { log.printf("%s", std::string(20, '\n').c_str()); });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(running.load(), 2) << "writers did not wait at the bound";
    close_window();
    EXPECT_TRUE(wait_until([&] { return running == 0; }));
    EXPECT_TRUE(write_elsewhere([&] { log.printf("lost\n%s", std::string(100, '\n').c_str()); }));
    log.printf("lost on the main thread too\n");
    EXPECT_EQ(taken.load(), 9);
}

TEST_F(Log_Window, LinesThatKeepComingAreTakenOnATimerThatEndsWhenTheyStop) {
    // One line every 2 ms while the main thread runs its loop: the first is
    // announced, the timer takes the rest in batches.
    Log_Stream& log = stream();
    std::wstring expected;
    for (int i = 0; i < 40; ++i) expected += std::to_wstring(i) + L'|';
    start_writer([&] {
        for (int i = 0; i < 40; ++i, std::this_thread::sleep_for(2ms)) log.printf("%d\n", i);
    });
    ASSERT_TRUE(wait_until([&] { return running == 0 && taken == 40; }, true));
    EXPECT_EQ(shown(), expected);
    EXPECT_LT(announcements.load(), 20) << "the window's thread was woken for nearly every line";
    EXPECT_GT(timer_looks.load(), 0);
    // Once no line comes, a look finds none and the timer ends; the next
    // write is announced again.
    const int looks = timer_looks;
    const auto quiet_until = std::chrono::steady_clock::now() + 200ms;
    wait_until([&] { return std::chrono::steady_clock::now() > quiet_until; }, true);
    EXPECT_LE(timer_looks.load(), looks + 1) << "the timer went on without lines";
    const int announced = announcements;
    ASSERT_TRUE(write_elsewhere([&] { log.printf("again\n"); }));
    ASSERT_TRUE(wait_until([&] { return taken == 41; }, true));
    EXPECT_EQ(announcements.load(), announced + 1);

    // A thread that always has a posted message gets no timer messages: the
    // writers ask it again once a sixteenth of the queue is full, long
    // before the bound.
    Log_Stream& busy_log = stream(64);
    staying_busy = true;
    PostMessageW(window, WM_STAY_BUSY, 0, 0);
    start_writer([&] {
        for (int i = 0; i < 40; ++i, std::this_thread::sleep_for(1ms)) busy_log.printf("busy %d\n", i);
    });
    EXPECT_TRUE(wait_until([&] { return running == 0 && taken >= 41 + 36; }, true)) << taken;
    staying_busy = false;
    EXPECT_LE(timer_looks.load(), looks + 2) << "timer messages came although something was always posted";
}

TEST_F(Log_Window, TheViewFollowsNewLinesOnlyWhileItIsAtTheEnd) {
    Log_Stream& log = stream();
    RECT client{};
    GetClientRect(window, &client);
    const LRESULT page = (client.bottom - client.top) / send(LB_GETITEMHEIGHT);
    ASSERT_GT(page, 2) << "the window shows too few items for this test";
    int written = 0;
    auto write_lines = [&](int count) {  // from another thread, as the proxy writes; taken in one batch
        std::string text;
        for (const int end = written + count; written < end; ++written) text += std::to_string(written) + "\n";
        ASSERT_TRUE(write_elsewhere([&] { log.write_string(text); }));
        ASSERT_TRUE(wait_until([&] { return taken == written; }, true));
    };
    auto top = [&] { return send(LB_GETTOPINDEX); };
    auto last_page = [&] { return send(LB_GETCOUNT) - page; };
    write_lines(300);
    EXPECT_EQ(top(), last_page());
    // Scrolled up to read, even by one line: the view stays where the user
    // left it; once the oldest lines go, the line read stays in view.
    for (const LRESULT at : {last_page() - 1, LRESULT{100}}) {
        send(LB_SETTOPINDEX, static_cast<WPARAM>(at));
        const std::wstring read = item(at);
        write_lines(400);
        EXPECT_EQ(top(), at - std::max(0, written - MAX_LOG_LINES));  // less the lines deleted in this batch
        EXPECT_EQ(item(top()), read);
    }
    // Back at the end (the list scrolls no further than its last page), it
    // follows again; also while minimised, with no room to show anything.
    send(LB_SETTOPINDEX, static_cast<WPARAM>(send(LB_GETCOUNT) - 1));
    write_lines(7);
    ShowWindow(window, SW_MINIMIZE);
    for (int i = 0; i < 20; ++i) log.printf("%d\n", written++);
    ShowWindow(window, SW_RESTORE);
    ShowWindow(window, SW_HIDE);
    log.printf("%d\n", written++);
    EXPECT_EQ(top(), last_page());
    EXPECT_EQ(item(MAX_LOG_LINES - 1), std::to_wstring(written - 1));
}
