#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "win32/windows.hpp"
#include "zib/log_stream.hpp"
#include "zib/tray_icon.hpp"

using zib::LOG_QUEUE_LINES;
using zib::Log_Stream;
using zib::MAX_LOG_LINES;
using zib::tray_icon;
using zib::WM_LOG_LINES;

// The log window as the program makes it: a class derived from the system
// list box, owned by the test's main thread, which runs a real message loop
// only when a test says so (otherwise it is "busy").

namespace {

using namespace std::chrono_literals;
using Items = std::vector<std::wstring>;

constexpr UINT WM_WRITER_DONE = WM_APP + 100;
constexpr auto patience = 10s;  // for anything that should happen at once

WNDPROC list_box_proc = nullptr;
std::atomic<int> items_taken{0};
std::atomic<int> log_messages{0};  // WM_LOG_LINES handled

LRESULT CALLBACK log_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_LOG_LINES) {
        ++log_messages;
        items_taken += static_cast<int>(Log_Stream::take_lines(window, list_box_proc, lparam));
        // A loop waiting for lines sees them at once (see pump_until).
        PostMessageW(window, WM_NULL, 0, 0);
        return 1;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return CallWindowProcW(list_box_proc, window, message, wparam, lparam);
}

void register_log_window_class() {
    static const bool registered = [] {
        WNDCLASSEXW info{};
        info.cbSize = sizeof info;
        if (!GetClassInfoExW(nullptr, L"LISTBOX", &info)) return false;
        list_box_proc = info.lpfnWndProc;
        info.lpfnWndProc = log_window_proc;
        info.hInstance = GetModuleHandleW(nullptr);
        info.lpszClassName = L"log_stream_test_window";
        return RegisterClassExW(&info) != 0;
    }();
    ASSERT_TRUE(registered);
}

// Runs the loop until the quit message (after the window's destruction).
void pump_until_quit() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Polls (without pumping) until `condition` holds or the patience runs out.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class Log_Window : public ::testing::Test {
protected:
    void SetUp() override {
        register_log_window_class();
        window = CreateWindowExW(WS_EX_CLIENTEDGE, L"log_stream_test_window", L"log", 0x00FF0000, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        tray_icon.hWnd = window;
        items_taken = 0;
        log_messages = 0;
    }

    // Also after a failed test: the window goes first, which releases writers
    // waiting at a full queue; then the writers end, then their streams.
    void TearDown() override {
        if (IsWindow(window)) {
            DestroyWindow(window);
            pump_until_quit();
        }
        for (auto& t : writers_) t.join();
        writers_.clear();
        streams_.clear();
        tray_icon.hWnd = nullptr;
    }

    // A new log window (the old one goes), as the stream finds it.
    void replace_window() {
        DestroyWindow(window);
        pump_until_quit();
        window = CreateWindowExW(WS_EX_CLIENTEDGE, L"log_stream_test_window", L"log", 0x00FF0000, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        tray_icon.hWnd = window;
    }

    // A stream that lives until the test's writers have ended.
    Log_Stream& stream(std::size_t queue_lines = LOG_QUEUE_LINES) {
        return *streams_.emplace_back(std::make_unique<Log_Stream>(queue_lines));
    }

    // Runs `body` on a thread of its own; `running` counts the unfinished.
    void start_writer(std::function<void()> body) {
        ++running;
        writers_.emplace_back([this, body = std::move(body)] {
            body();
            --running;
            PostMessageW(window, WM_WRITER_DONE, 0, 0);  // wakes the loop
        });
    }

    // Runs `body` on a writer thread and waits (without pumping) for its end.
    bool write_from_another_thread(std::function<void()> body) {
        std::atomic<bool> done{false};
        start_writer([&done, body = std::move(body)] {
            body();
            done = true;
        });
        const bool ended = eventually([&] { return done.load(); });
        // A writer still stuck is released at the end of the test.
        if (ended) {
            writers_.back().join();
            writers_.pop_back();
        }
        return ended;
    }

    LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const {
        return SendMessageW(window, message, wparam, lparam);
    }

    Items items() const {
        Items result;
        const LRESULT count = send(LB_GETCOUNT);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring text(static_cast<std::size_t>(send(LB_GETTEXTLEN, i)), L'\0');
            send(LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            result.push_back(text);
        }
        return result;
    }

    std::wstring item(LRESULT index) const {
        std::wstring text(static_cast<std::size_t>(send(LB_GETTEXTLEN, index)), L'\0');
        send(LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
        return text;
    }

    // Whole items in view, as the list box lays them out.
    LRESULT rows() const {
        RECT client{};
        GetClientRect(window, &client);
        const LRESULT height = send(LB_GETITEMHEIGHT);
        return height > 0 ? (client.bottom - client.top) / height : 0;
    }

    // Runs the message loop until `done` holds (true), or gives up after the
    // patience (false). A ticker wakes the loop now and then: sent messages
    // alone do not end a wait in GetMessageW.
    bool pump_until(const std::function<bool()>& done) {
        std::atomic<bool> stop{false};
        std::thread ticker([&] {
            while (!stop) {
                PostMessageW(window, WM_NULL, 0, 0);
                std::this_thread::sleep_for(20ms);
            }
        });
        const auto deadline = std::chrono::steady_clock::now() + patience;
        bool met;
        MSG msg;
        while (!(met = done()) && std::chrono::steady_clock::now() < deadline && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        stop = true;
        ticker.join();
        return met;
    }

    HWND window = nullptr;
    std::atomic<int> running{0};

private:
    std::vector<std::thread> writers_;
    std::vector<std::unique_ptr<Log_Stream>> streams_;
};

}  // namespace

TEST_F(Log_Window, LinesBytesAndEncodings) {
    struct Case {
        const char* name;
        std::vector<std::string> writes;
        std::vector<Items> after_each;  // the items after each write
    };
    const Case cases[] = {
        {"CR LF and LF", {"a\r\nb\n"}, {Items{L"a", L"b"}}},
        {"CR, then LF later", {"a\r", "\nb", "\n"}, {Items{}, Items{L"a"}, Items{L"a", L"b"}}},
        {"C3 28 is not UTF-8", {"ok\n\xC3\x28\n"}, {Items{L"ok", L"(BIN)"}}},
        {"zero byte ends the text", {std::string("x\0y\n", 4)}, {Items{L"x"}}},
        {"empty lines", {"\n\r\n"}, {Items{L"", L""}}},
        {"CR elsewhere stays", {"a\rb\n", "c\r\r\n"}, {Items{L"a\rb"}, Items{L"a\rb", L"c\r"}}},
        {"text without LF waits", {"par", "tial"}, {Items{}, Items{}}},
        {"a line completed by later writes",
         {"par", "tial\nnext", "\n"},
         {Items{}, Items{L"partial"}, Items{L"partial", L"next"}}},
        {"UTF-8 Japanese and beyond BMP",
         {"\xE6\x97\xA5\xE6\x9C\xAC\n\xF0\x9F\x98\x80\n"},
         {Items{L"日本", L"\U0001F600"}}},
        {"a sequence split across writes", {"\xE6\x97", "\xA5\n"}, {Items{}, Items{L"日"}}},
        {"ill-formed sequences",
         {"\x80\n"                  // stray continuation byte
          "\xC0\xAF\n"              // overlong
          "\xE0\x80\xAF\n"          // overlong, three bytes
          "\xE3\x81\n"              // truncated
          "\xED\xA0\x80\n"          // surrogate
          "\xF4\x90\x80\x80\n"      // above U+10FFFF
          "\xF8\x88\x80\x80\x80\n"  // lead byte of five
          "a\xFF"
          "b\n"               // one bad byte inside ASCII
          "\xEF\xBF\xBF\n"},  // U+FFFF is well-formed
         {Items{L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"\uFFFF"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Log_Stream& log = stream();
        // Written on the window's own thread: shown at once, without pumping.
        for (std::size_t i = 0; i < c.writes.size(); ++i) {
            log.write_string(c.writes[i]);
            EXPECT_EQ(items(), c.after_each[i]) << "after write " << i;
        }
    }
}

TEST_F(Log_Window, PrintfFormatsByTheCRulesWithoutALengthLimit) {
    Log_Stream& log = stream();
    const std::string long_text(100000, 'x');
    EXPECT_EQ(log.printf("%d|%.*s|\n", -2147483647 - 1, 3, "abcdef"), 17);
    EXPECT_EQ(log.printf("%.*s\n", static_cast<int>(long_text.size()), long_text.c_str()), 100001);
    auto got = items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], L"-2147483648|abc|");
    EXPECT_EQ(got[1], std::wstring(100000, L'x'));
}

TEST_F(Log_Window, WritersReturnWithoutWaitingForABusyMainThread) {
    // The main thread does not pump: writes below the bound still return,
    // and the lines appear, in order, once it does.
    Log_Stream& log = stream();
    ASSERT_TRUE(write_from_another_thread([&] {
        for (int i = 0; i < 100; ++i) log.printf("line %d\n", i);
        log.write_string("first half, ");
        log.write_string("second half\n");
    })) << "a writer waited for the main thread";
    EXPECT_EQ(items_taken.load(), 0);
    EXPECT_EQ(items(), Items{});
    ASSERT_TRUE(pump_until([&] { return items_taken == 101; }));
    auto got = items();
    ASSERT_EQ(got.size(), 101u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(got[i], L"line " + std::to_wstring(i));
    EXPECT_EQ(got[100], L"first half, second half");
}

TEST_F(Log_Window, EightWritersKeepEachPrintfTogetherAndTheirOwnOrder) {
    // Concurrent three-line printfs, through queues big and small (a small
    // one makes writers wait for room all the time). Every line arrives;
    // each printf's lines are consecutive; each thread's printfs keep order.
    constexpr int writers = 8, rounds = 40, total = writers * rounds * 3;  // all stay in the window
    for (std::size_t bound : {LOG_QUEUE_LINES, std::size_t{16}, std::size_t{1}, std::size_t{0}}) {  // 0 acts as 1
        SCOPED_TRACE("queue bound " + std::to_string(bound));
        TearDown();
        SetUp();
        Log_Stream& log = stream(bound);
        for (int id = 0; id < writers; ++id)
            start_writer([&log, id] {
                for (int r = 0; r < rounds; ++r) log.printf("T%d-%d a\nT%d-%d b\nT%d-%d c\n", id, r, id, r, id, r);
            });
        ASSERT_TRUE(pump_until([&] { return running == 0 && items_taken >= total; }));
        const auto got = items();
        ASSERT_EQ(got.size(), static_cast<std::size_t>(total));
        int next_round[writers] = {};
        for (std::size_t i = 0; i < got.size(); i += 3) {
            const int id = got[i][1] - L'0';
            ASSERT_TRUE(id >= 0 && id < writers) << i;
            const std::wstring prefix = L"T" + std::to_wstring(id) + L"-" + std::to_wstring(next_round[id]++);
            ASSERT_EQ(got[i], prefix + L" a") << i;
            ASSERT_EQ(got[i + 1], prefix + L" b") << i;
            ASSERT_EQ(got[i + 2], prefix + L" c") << i;
        }
    }
}

TEST_F(Log_Window, WritesOfDifferentThreadsShowInTheOrderTheyWereMade) {
    // Eight threads take turns (a number under a lock of the test's own):
    // each write happens after the one before it, so the items count up.
    constexpr int writers = 8, total = 1000;  // all stay in the window
    for (std::size_t bound : {LOG_QUEUE_LINES, std::size_t{4}}) {
        SCOPED_TRACE("queue bound " + std::to_string(bound));
        TearDown();
        SetUp();
        Log_Stream& log = stream(bound);
        std::mutex turn;
        int next = 0;
        for (int id = 0; id < writers; ++id)
            start_writer([&] {
                for (;;) {
                    std::lock_guard guard(turn);
                    if (next == total) return;
                    log.printf("%d\n", next++);
                }
            });
        ASSERT_TRUE(pump_until([&] { return running == 0 && items_taken >= total; }));
        const auto got = items();
        ASSERT_EQ(got.size(), static_cast<std::size_t>(total));
        for (int i = 0; i < total; ++i) ASSERT_EQ(got[i], std::to_wstring(i)) << i;
    }
}

TEST_F(Log_Window, AFullQueueMakesWritersWaitUntilTheMainThreadTakesLinesAndNothingIsLost) {
    struct Case {
        const char* name;
        std::size_t bound;
        int writers;
        int lines_each;   // one printf per line
        int first_lines;  // written in one printf before the rest
    };
    const Case cases[] = {
        {"the program's bound, one writer", LOG_QUEUE_LINES, 1, static_cast<int>(LOG_QUEUE_LINES) + 50, 0},
        {"a small bound, four writers", 8, 4, 20, 0},
        {"one write beyond the bound goes in whole", 8, 1, 20, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Log_Stream& log = stream(c.bound);
        std::atomic<int> returned{0};
        for (int id = 0; id < c.writers; ++id)
            start_writer([&, id] {
                if (c.first_lines > 0) {
                    std::string block;
                    for (int i = 0; i < c.first_lines; ++i) block += "block " + std::to_string(i) + "\n";
                    log.write_string(block);
                    ++returned;
                }
                for (int i = 0; i < c.lines_each; ++i) {
                    log.printf("W%d %d\n", id, i);
                    ++returned;
                }
            });
        // The main thread is busy: the writers fill the queue and stop there.
        // (A block that found the queue empty counts as one write.)
        const int at_bound = c.first_lines > 0 ? 1 : static_cast<int>(c.bound);
        EXPECT_TRUE(eventually([&] { return returned >= at_bound; }));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(returned.load(), at_bound) << "writers went beyond the bound";
        EXPECT_EQ(items_taken.load(), 0);

        // It resumes: every writer goes on, and every line arrives in order.
        const int total = c.writers * c.lines_each + c.first_lines;
        ASSERT_TRUE(pump_until([&] { return running == 0 && items_taken >= total; }));
        EXPECT_EQ(items_taken.load(), total);
        const auto got = items();
        ASSERT_EQ(got.size(), static_cast<std::size_t>(std::min(total, MAX_LOG_LINES)));
        // The block first; then, within the window, each writer's lines count up without a gap.
        for (int i = 0; i < c.first_lines; ++i) ASSERT_EQ(got[i], L"block " + std::to_wstring(i));
        std::vector<int> next(static_cast<std::size_t>(c.writers), -1);
        for (const auto& line : got) {
            if (line.rfind(L"block ", 0) == 0) continue;
            const auto id = static_cast<std::size_t>(std::stoi(line.substr(1)));
            const int n = std::stoi(line.substr(line.find(L' ') + 1));
            ASSERT_LT(id, next.size());
            if (next[id] < 0) next[id] = n;  // the first of its lines the window still holds
            ASSERT_EQ(n, next[id]++) << "writer " << id;
        }
        for (int id = 0; id < c.writers; ++id) EXPECT_EQ(next[static_cast<std::size_t>(id)], c.lines_each) << id;
    }
}

TEST_F(Log_Window, TheMainThreadsOwnWritesNeverWait) {
    // A writer waits at a full queue while the main thread does not pump;
    // the main thread's write goes through at once, after the queued lines,
    // and so makes room for the writer.
    Log_Stream& log = stream(4);
    std::atomic<int> returned{0};
    start_writer([&] {
        for (int i = 0; i < 6; ++i) {
            log.printf("writer %d\n", i);
            ++returned;
        }
    });
    ASSERT_TRUE(eventually([&] { return returned == 4; }));
    log.printf("main\n");
    EXPECT_EQ(items(), (Items{L"writer 0", L"writer 1", L"writer 2", L"writer 3", L"main"}));
    ASSERT_TRUE(pump_until([&] { return running == 0 && items_taken >= 7; }));
    EXPECT_EQ(items(), (Items{L"writer 0", L"writer 1", L"writer 2", L"writer 3", L"main", L"writer 4", L"writer 5"}));
}

TEST_F(Log_Window, OneAnnouncementAtATimeTakesWhateverIsQueued) {
    // The main thread is busy while a writer writes line after line: one
    // message announces them all. Its own write takes them at once, and the
    // announcement still on its way serves the writer's next lines too.
    Log_Stream& log = stream();
    ASSERT_TRUE(write_from_another_thread([&] {
        for (int i = 0; i < 50; ++i) log.printf("first %d\n", i);
    }));
    log.printf("main\n");
    EXPECT_EQ(log_messages.load(), 1);  // its own, handled at once
    EXPECT_EQ(items_taken.load(), 51);
    ASSERT_TRUE(write_from_another_thread([&] {
        for (int i = 0; i < 50; ++i) log.printf("second %d\n", i);
    }));
    ASSERT_TRUE(pump_until([&] { return items_taken >= 101; }));
    EXPECT_EQ(log_messages.load(), 2);
    EXPECT_EQ(items().back(), L"second 49");
    // Once that one is handled, the next line is announced anew.
    ASSERT_TRUE(write_from_another_thread([&] { log.printf("third\n"); }));
    ASSERT_TRUE(pump_until([&] { return items_taken >= 102; }));
    EXPECT_EQ(log_messages.load(), 3);
}

TEST_F(Log_Window, KeepsTheLast1024LinesInOrder) {
    Log_Stream& log = stream();
    start_writer([&] {
        for (int i = 0; i < 1030; ++i) log.printf("line %d\n", i);
    });
    ASSERT_TRUE(pump_until([&] { return running == 0 && items_taken >= 1030; }));
    auto got = items();
    ASSERT_EQ(got.size(), 1024u);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], L"line " + std::to_wstring(i + 6)) << i;
}

TEST_F(Log_Window, WritesAfterTheWindowIsGoneReturnAtOnceAndAreLost) {
    Log_Stream& log = stream(16);
    DestroyWindow(window);
    pump_until_quit();
    ASSERT_FALSE(IsWindow(window));
    // Nobody pumps messages any more: no write may wait, also beyond the bound.
    EXPECT_TRUE(write_from_another_thread([&] {
        for (int i = 0; i < 100; ++i) log.printf("lost %d\n", i);
        log.write_string("unfinished");
    }));
    log.printf("lost on the main thread too\n");
    EXPECT_EQ(items_taken.load(), 0);
}

TEST_F(Log_Window, WritersWaitingAtTheBoundAreReleasedWhenTheWindowIsDestroyed) {
    Log_Stream& log = stream(4);
    for (int i = 0; i < 3; ++i)
        start_writer([&] {
            for (int n = 0; n < 10; ++n) log.printf("never shown\n");
        });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(running.load(), 3) << "no writer waited at the bound";
    // The window ends as the Exit command ends it, and the loop runs out.
    DestroyWindow(window);
    pump_until_quit();
    EXPECT_TRUE(eventually([&] { return running == 0; }));
    EXPECT_EQ(items_taken.load(), 0);
}

TEST_F(Log_Window, AStreamGoesOnWithTheNextWindow) {
    // A line announced to a window that goes before taking it does not keep
    // the stream from announcing to the next window; that one takes it too.
    Log_Stream& log = stream(8);
    ASSERT_TRUE(write_from_another_thread([&] { log.printf("to the first window\n"); }));
    replace_window();
    start_writer([&] {
        for (int i = 0; i < 20; ++i) log.printf("to the second %d\n", i);
    });
    ASSERT_TRUE(pump_until([&] { return running == 0 && items_taken >= 21; }));
    const auto got = items();
    ASSERT_EQ(got.size(), 21u);
    EXPECT_EQ(got.front(), L"to the first window");
    EXPECT_EQ(got.back(), L"to the second 19");
}

TEST_F(Log_Window, AnAnnouncementThatOutlivesItsStreamDoesNothing) {
    {
        Log_Stream log;
        ASSERT_TRUE(write_from_another_thread([&] { log.printf("announced, never taken\n"); }));
    }
    // That announcement still waits for the main thread.
    Log_Stream& other = stream();
    ASSERT_TRUE(write_from_another_thread([&] { other.printf("from the other stream\n"); }));
    ASSERT_TRUE(pump_until([&] { return items_taken >= 1; }));
    EXPECT_EQ(items(), Items{L"from the other stream"});
}

TEST_F(Log_Window, TheViewFollowsNewLinesOnlyWhileItIsAtTheEnd) {
    Log_Stream& log = stream();
    const LRESULT page = rows();
    ASSERT_GT(page, 2) << "the window shows too few items for this test";
    auto write_lines = [&](int from, int count) {
        std::string text;
        for (int i = from; i < from + count; ++i) text += "line " + std::to_string(i) + "\n";
        // From another thread, as the proxy writes, taken in one batch.
        const int before = items_taken;
        ASSERT_TRUE(write_from_another_thread([&] { log.write_string(text); }));
        ASSERT_TRUE(pump_until([&] { return items_taken >= before + count; }));
    };
    auto top = [&] { return send(LB_GETTOPINDEX); };
    auto count = [&] { return send(LB_GETCOUNT); };

    // Fewer lines than a page: nothing to scroll.
    write_lines(0, static_cast<int>(page) - 1);
    EXPECT_EQ(top(), 0);
    // At the end: the newest line stays in view, one by one and in batches.
    int written = static_cast<int>(page) - 1;
    for (int batch : {1, 1, 5, 300}) {
        write_lines(written, batch);
        written += batch;
        EXPECT_EQ(top(), count() - page) << "after " << written << " lines";
    }
    // The main thread's own lines follow too.
    log.printf("main %d\n", written++);
    EXPECT_EQ(top(), count() - page);

    // Scrolled up to read: the view stays where the user left it.
    send(LB_SETTOPINDEX, 10);
    ASSERT_EQ(top(), 10);
    write_lines(written, 50);
    written += 50;
    EXPECT_EQ(top(), 10);
    EXPECT_EQ(item(top()), L"line 10");
    // Even one line above the end counts as scrolled up.
    send(LB_SETTOPINDEX, static_cast<WPARAM>(count() - page - 1));
    const LRESULT held = top();
    write_lines(written, 3);
    written += 3;
    EXPECT_EQ(top(), held);

    // Once the oldest lines go, the line read stays in view.
    ASSERT_LT(count(), MAX_LOG_LINES);
    const LRESULT reading = count() / 2;
    send(LB_SETTOPINDEX, static_cast<WPARAM>(reading));
    const std::wstring read = item(reading);
    const int beyond = MAX_LOG_LINES - static_cast<int>(count()) + 20;
    write_lines(written, beyond);
    written += beyond;
    EXPECT_EQ(count(), MAX_LOG_LINES);
    EXPECT_EQ(top(), reading - 20);
    EXPECT_EQ(item(top()), read);

    // Back at the end, it follows again.
    send(LB_SETTOPINDEX, static_cast<WPARAM>(count() - 1));
    EXPECT_EQ(top(), count() - page);  // the list scrolls no further than its last page
    write_lines(written, 7);
    EXPECT_EQ(top(), count() - page);
    EXPECT_EQ(item(count() - 1), L"line " + std::to_wstring(written + 6));
}

TEST_F(Log_Window, AMinimisedWindowKeepsFollowing) {
    // Minimised (as the tray menu does with a hidden window) the list has no
    // room to show anything; lines added meanwhile must not stop the following.
    Log_Stream& log = stream();
    const LRESULT page = rows();
    ASSERT_GT(page, 0);
    for (int i = 0; i < 100; ++i) log.printf("before %d\n", i);
    EXPECT_EQ(send(LB_GETTOPINDEX), 100 - page);
    ShowWindow(window, SW_MINIMIZE);
    for (int i = 0; i < 20; ++i) log.printf("minimised %d\n", i);
    ShowWindow(window, SW_RESTORE);
    ShowWindow(window, SW_HIDE);
    ASSERT_EQ(rows(), page);
    log.printf("after\n");
    EXPECT_EQ(send(LB_GETTOPINDEX), 121 - page);
}
