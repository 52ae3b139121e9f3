#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "win32/windows.hpp"
#include "zib/log_stream.hpp"
#include "zib/tray_icon.hpp"

// The log window as the program makes it: a class derived from the system
// list box, owned by the test's main thread, which runs a real message loop.

namespace {

constexpr UINT WM_WRITER_DONE = WM_APP + 100;

WNDPROC list_box_proc = nullptr;
std::atomic<int> items_taken{0};

LRESULT CALLBACK log_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_LOG_LINES) {
        items_taken += static_cast<int>(Log_Stream::take_lines(window, list_box_proc, lparam));
        return 1;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return CallWindowProcW(list_box_proc, window, message, wparam, lparam);
}

// A window of a writer thread whose procedure writes to the log.
Log_Stream* nested_log = nullptr;
constexpr UINT WM_WRITE_NESTED = WM_APP + 7;

LRESULT CALLBACK nested_writer_proc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_WRITE_NESTED) return nested_log->printf("nested\n");
    return message == WM_NCCREATE;
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

// Runs the message loop until `done` holds; threads post WM_WRITER_DONE to
// wake it when they finish.
void pump_until(const std::function<bool()>& done) {
    MSG msg;
    while (!done() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Runs the loop until the quit message (after the window's destruction).
void pump_until_quit() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
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
    }

    void TearDown() override {
        if (IsWindow(window)) {
            DestroyWindow(window);
            pump_until_quit();
        }
        tray_icon.hWnd = nullptr;
    }

    std::vector<std::wstring> items() const {
        std::vector<std::wstring> result;
        auto count = SendMessageW(window, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring text(static_cast<std::size_t>(SendMessageW(window, LB_GETTEXTLEN, i, 0)), L'\0');
            SendMessageW(window, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            result.push_back(text);
        }
        return result;
    }

    // Starts `body` on another thread, which wakes the loop when it ends.
    std::thread writer(std::function<void()> body, std::atomic<int>& running) {
        ++running;
        return std::thread([this, body = std::move(body), &running] {
            body();
            --running;
            PostMessageW(window, WM_WRITER_DONE, 0, 0);
        });
    }

    HWND window = nullptr;
};

}  // namespace

TEST_F(Log_Window, WriterReturnsOnlyAfterTheMainThreadTookTheItem) {
    Log_Stream log;
    std::atomic<int> running{0};
    int taken_when_returned = -1;
    auto t = writer(
        [&] {
            log.printf("first\n");
            taken_when_returned = items_taken.load();
        },
        running);
    // The main thread is busy for a while: the writer must wait for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(items_taken.load(), 0);
    pump_until([&] { return running == 0; });
    t.join();
    EXPECT_EQ(taken_when_returned, 1);
    EXPECT_EQ(items(), std::vector<std::wstring>{L"first"});
}

TEST_F(Log_Window, LinesBytesAndEncodings) {
    struct Case {
        const char* name;
        std::vector<std::string> writes;
        std::vector<std::vector<std::wstring>> after_each;  // the items after each write
    };
    using Items = std::vector<std::wstring>;
    const Case cases[] = {
        {"CR LF and LF", {"a\r\nb\n"}, {Items{L"a", L"b"}}},
        {"CR, then LF later", {"a\r", "\nb", "\n"}, {Items{}, Items{L"a"}, Items{L"a", L"b"}}},
        {"C3 28 is not UTF-8", {"ok\n\xC3\x28\n"}, {Items{L"ok", L"(BIN)"}}},
        {"zero byte ends the text", {std::string("x\0y\n", 4)}, {Items{L"x"}}},
        {"empty lines", {"\n\r\n"}, {Items{L"", L""}}},
        {"CR elsewhere stays", {"a\rb\n", "c\r\r\n"}, {Items{L"a\rb"}, Items{L"a\rb", L"c\r"}}},
        {"text without LF waits", {"par", "tial"}, {Items{}, Items{}}},
        {"UTF-8 Japanese and beyond BMP",
         {"\xE6\x97\xA5\xE6\x9C\xAC\n\xF0\x9F\x98\x80\n"},
         {Items{L"日本", L"\U0001F600"}}},
        {"ill-formed sequences",
         {"\x80\n"                  // stray continuation byte
          "\xC0\xAF\n"              // overlong
          "\xE0\x80\xAF\n"          // overlong, three bytes
          "\xE3\x81\n"              // truncated
          "\xED\xA0\x80\n"          // surrogate
          "\xF4\x90\x80\x80\n"      // above U+10FFFF
          "\xF8\x88\x80\x80\x80\n"  // lead byte of five
          "\xEF\xBF\xBF\n"},        // U+FFFF is well-formed
         {Items{L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"(BIN)", L"\uFFFF"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Log_Stream log;
        for (std::size_t i = 0; i < c.writes.size(); ++i) {
            log.write_string(c.writes[i]);
            EXPECT_EQ(items(), c.after_each[i]) << "after write " << i;
        }
    }
}

TEST_F(Log_Window, PrintfFormatsByTheCRulesWithoutALengthLimit) {
    Log_Stream log;
    const std::string long_text(100000, 'x');
    EXPECT_EQ(log.printf("%d|%.*s|\n", -2147483647 - 1, 3, "abcdef"), 17);
    EXPECT_EQ(log.printf("%.*s\n", static_cast<int>(long_text.size()), long_text.c_str()), 100001);
    auto got = items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], L"-2147483648|abc|");
    EXPECT_EQ(got[1], std::wstring(100000, L'x'));
}

TEST_F(Log_Window, OnePrintfIsOneUnbrokenBlockAcrossThreads) {
    // Enough writers that most of them queue behind a batch on its way.
    Log_Stream log;
    std::atomic<int> running{0};
    constexpr int writers = 6, rounds = 40;
    std::vector<std::thread> threads;
    for (int id = 0; id < writers; ++id) {
        threads.push_back(writer(
            [&log, id] {
                for (int r = 0; r < rounds; ++r) log.printf("T%d-%d a\nT%d-%d b\nT%d-%d c\n", id, r, id, r, id, r);
            },
            running));
    }
    pump_until([&] { return running == 0; });
    for (auto& t : threads) t.join();
    auto got = items();
    ASSERT_EQ(got.size(), static_cast<std::size_t>(writers * rounds * 3));
    int next_round[writers] = {};
    for (std::size_t i = 0; i < got.size(); i += 3) {
        int id = got[i][1] - L'0';
        ASSERT_TRUE(id >= 0 && id < writers) << i;
        std::wstring prefix = L"T" + std::to_wstring(id) + L"-" + std::to_wstring(next_round[id]++);
        EXPECT_EQ(got[i], prefix + L" a");
        EXPECT_EQ(got[i + 1], prefix + L" b");
        EXPECT_EQ(got[i + 2], prefix + L" c");
    }
}

TEST_F(Log_Window, EveryQueuedWriterWaitsForTheMainThread) {
    // The main thread is busy while several writers write: none of them may
    // return before its line is an item, and all return once it pumps.
    Log_Stream log;
    std::atomic<int> running{0}, returned{0};
    std::vector<std::thread> threads;
    for (int id = 0; id < 4; ++id)
        threads.push_back(writer(
            [&, id] {
                log.printf("writer %d\n", id);
                ++returned;
            },
            running));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(returned.load(), 0);
    EXPECT_EQ(items_taken.load(), 0);
    pump_until([&] { return running == 0; });
    for (auto& t : threads) t.join();
    EXPECT_EQ(items().size(), 4u);
}

TEST_F(Log_Window, TheMainThreadWritesAtOnceWhileOthersWaitForIt) {
    // A writer's batch is announced to the main thread, which is not pumping;
    // the main thread's own write must not wait for that message.
    Log_Stream log;
    std::atomic<int> running{0};
    auto t = writer([&] { log.printf("from a writer\n"); }, running);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    log.printf("from the main thread\n");
    EXPECT_EQ(items(), (std::vector<std::wstring>{L"from a writer", L"from the main thread"}));
    pump_until([&] { return running == 0; });
    t.join();
    EXPECT_EQ(items().size(), 2u);
}

TEST_F(Log_Window, AWriteMadeWhileItsThreadAnnouncesLinesDoesNotWaitForItself) {
    // A writer thread with a window of its own announces a line; while it
    // waits, another thread sends to that window, whose procedure writes.
    Log_Stream stream;
    nested_log = &stream;
    static const bool registered = [] {
        WNDCLASSEXW info{};
        info.cbSize = sizeof info;
        info.lpfnWndProc = nested_writer_proc;
        info.hInstance = GetModuleHandleW(nullptr);
        info.lpszClassName = L"log_stream_test_writer";
        return RegisterClassExW(&info) != 0;
    }();
    ASSERT_TRUE(registered);
    std::promise<HWND> made;
    std::atomic<int> running{0};
    auto t = writer(
        [&] {
            HWND own = CreateWindowExW(0, L"log_stream_test_writer", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
            made.set_value(own);
            stream.printf("outer\n");
            DestroyWindow(own);
        },
        running);
    HWND other = made.get_future().get();
    ASSERT_NE(other, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Sent from a third thread: the main thread, which is not pumping yet,
    // must not take the announced line before the nested write is made.
    auto nested = std::async(std::launch::async, [&] { return SendMessageW(other, WM_WRITE_NESTED, 0, 0); });
    ASSERT_EQ(nested.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the nested write waits";
    EXPECT_EQ(nested.get(), 7);
    pump_until([&] { return running == 0; });
    t.join();
    EXPECT_EQ(items(), (std::vector<std::wstring>{L"outer", L"nested"}));
}

TEST_F(Log_Window, KeepsTheLast1024LinesInOrder) {
    Log_Stream log;
    std::atomic<int> running{0};
    auto t = writer(
        [&] {
            for (int i = 0; i < 1030; ++i) log.printf("line %d\n", i);
        },
        running);
    pump_until([&] { return running == 0; });
    t.join();
    auto got = items();
    ASSERT_EQ(got.size(), 1024u);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], L"line " + std::to_wstring(i + 6)) << i;
}

TEST_F(Log_Window, WritesAfterTheWindowIsGoneReturnAtOnceAndAreLost) {
    Log_Stream log;
    DestroyWindow(window);
    pump_until_quit();
    ASSERT_FALSE(IsWindow(window));
    // Nobody pumps messages any more: the writes must not wait.
    auto done = std::async(std::launch::async, [&] {
        for (int i = 0; i < 100; ++i) log.printf("lost %d\n", i);
        log.write_string("unfinished");
    });
    EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    done.get();
    EXPECT_EQ(items_taken.load(), 0);
}

TEST_F(Log_Window, WaitingWritersAreReleasedWhenTheWindowIsDestroyed) {
    // One writer announces its batch, the others queue behind it.
    Log_Stream log;
    std::atomic<int> started{0};
    std::vector<std::future<void>> done;
    for (int i = 0; i < 3; ++i)
        done.push_back(std::async(std::launch::async, [&] {
            ++started;
            log.printf("never shown\n");
            log.printf("nor this\n");
        }));
    while (started < 3) std::this_thread::yield();
    // Give the writers time to block, then end the window as the Exit command
    // does and go on pumping until the quit message.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (auto& d : done) EXPECT_NE(d.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    DestroyWindow(window);
    pump_until_quit();
    for (auto& d : done) {
        EXPECT_EQ(d.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        d.get();
    }
    EXPECT_EQ(items_taken.load(), 0);
}
