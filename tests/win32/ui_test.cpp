#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "win32/signals.hpp"
#include "win32/windows.hpp"

// The user-interface calls of our own layer, where the Windows ones are not
// available: message queues across threads, the list box, windows seen
// from other processes, signals, and menus and message boxes without a terminal.

namespace {

using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

WNDPROC list_box_proc = nullptr;
std::mutex handlers_mutex;
std::map<HWND, Handler> handlers;

LRESULT CALLBACK test_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Handler handler;
    {
        std::lock_guard lock(handlers_mutex);
        if (auto found = handlers.find(window); found != handlers.end()) handler = found->second;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    if (handler) {
        if (LRESULT result = handler(window, message, wparam, lparam)) return result;
    }
    return CallWindowProcW(list_box_proc, window, message, wparam, lparam);
}

// Our class, named per process: other test processes may run at the same time.
const std::wstring& test_class() {
    static const std::wstring name = L"ui_test_window_" + std::to_wstring(getpid());
    return name;
}

// A top-level window derived from the list box, owned by the calling thread;
// `handler` sees every message first (a non-zero result is final).
HWND make_window(Handler handler = {}) {
    static const bool registered = [] {
        WNDCLASSEXW info{};
        info.cbSize = sizeof info;
        GetClassInfoExW(nullptr, L"LISTBOX", &info);
        list_box_proc = info.lpfnWndProc;
        info.lpfnWndProc = test_proc;
        info.lpszClassName = test_class().c_str();
        return RegisterClassExW(&info) != 0;
    }();
    EXPECT_TRUE(registered);
    HWND window = CreateWindowExW(0, test_class().c_str(), L"test", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  400, 300, nullptr, nullptr, nullptr, nullptr);
    std::lock_guard lock(handlers_mutex);
    handlers[window] = std::move(handler);
    return window;
}

// Runs the loop until `done` holds or the quit message comes.
void pump_until(const std::function<bool()>& done) {
    MSG msg;
    while (!done() && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

void destroy_and_drain(HWND window) {
    if (DestroyWindow(window)) pump_until([] { return false; });
}

// Sends standard output or error into a file for the test's duration.
class Capture {
public:
    explicit Capture(int fd) : fd_(fd) {
        char name[] = "/tmp/ui_test_capture_XXXXXX";
        file_ = mkstemp(name);
        unlink(name);
        saved_ = dup(fd_);
        dup2(file_, fd_);
    }
    ~Capture() { restore(); }
    std::string text() {
        std::string result;
        char buffer[4096];
        for (off_t at = 0;;) {
            ssize_t got = pread(file_, buffer, sizeof buffer, at);
            if (got <= 0) break;
            result.append(buffer, static_cast<std::size_t>(got));
            at += got;
        }
        return result;
    }
    void restore() {
        if (saved_ < 0) return;
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }

private:
    int fd_, file_, saved_;
};

// Standard input that is not a terminal (as under a service or CI).
class Stdin_From_Null {
public:
    Stdin_From_Null() : saved_(dup(STDIN_FILENO)) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        close(null);
    }
    ~Stdin_From_Null() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

template <typename T>
bool ready_within(std::future<T>& f, int seconds) {
    return f.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
}

}  // namespace

TEST(Messages, SentFromAnotherThreadRunsOnTheOwnerWhichRepliesOnlyThen) {
    const auto main_thread = std::this_thread::get_id();
    std::thread::id ran_on;
    HWND window = make_window([&](HWND, UINT message, WPARAM wparam, LPARAM) -> LRESULT {
        if (message != WM_APP) return 0;
        ran_on = std::this_thread::get_id();
        return static_cast<LRESULT>(wparam * 2);
    });
    std::atomic<bool> replied{false};
    auto reply = std::async(std::launch::async, [&] {
        LRESULT result = SendMessageW(window, WM_APP, 21, 0);
        replied = true;
        PostMessageW(window, WM_NULL, 0, 0);  // wakes the loop to see the reply
        return result;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(replied) << "a send returned before the owner ran it";
    pump_until([&] { return replied.load(); });
    EXPECT_EQ(reply.get(), 42);
    EXPECT_EQ(ran_on, main_thread);
    destroy_and_drain(window);
}

TEST(Messages, TwoThreadsSendingToEachOtherMakeProgress) {
    // The main thread sends to B's window; B's procedure sends back to the
    // main thread's window while the main thread still waits for B.
    HWND main_window =
        make_window([](HWND, UINT message, WPARAM, LPARAM) -> LRESULT { return message == WM_APP ? 7 : 0; });
    std::promise<HWND> b_window;
    std::atomic<bool> b_stop{false};
    std::thread b([&] {
        HWND window = make_window([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
            return message == WM_APP + 1 ? SendMessageW(main_window, WM_APP, 0, 0) + 1 : 0;
        });
        b_window.set_value(window);
        MSG msg;
        while (!b_stop && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    });
    HWND other = b_window.get_future().get();
    EXPECT_EQ(SendMessageW(other, WM_APP + 1, 0, 0), 8);
    b_stop = true;
    PostMessageW(other, WM_NULL, 0, 0);
    b.join();
    // B's window went with its thread.
    EXPECT_FALSE(IsWindow(other));
    destroy_and_drain(main_window);
}

TEST(Messages, ProcedureFailingWhileItsThreadWaitsInASendLeavesNoDanglingSend) {
    // The main thread waits in a send to B; B's procedure sends back, and the
    // main thread's procedure throws while running that nested send.
    HWND main_window = make_window([](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_APP) throw std::runtime_error("failed inside a nested send");
        return 0;
    });
    std::promise<HWND> b_window;
    std::atomic<bool> b_stop{false};
    std::atomic<LRESULT> b_got{-1};
    std::thread b([&] {
        HWND window = make_window([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
            if (message != WM_APP + 1) return 0;
            b_got = SendMessageW(main_window, WM_APP, 0, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reply comes late
            return 1;
        });
        b_window.set_value(window);
        MSG msg;
        while (!b_stop && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    });
    HWND other = b_window.get_future().get();
    EXPECT_THROW(SendMessageW(other, WM_APP + 1, 0, 0), std::runtime_error);
    EXPECT_EQ(b_got.load(), 0);  // B's nested send was released with 0
    // Both threads still work.
    EXPECT_EQ(SendMessageW(other, WM_NULL, 0, 0), 0);
    b_stop = true;
    PostMessageW(other, WM_NULL, 0, 0);
    b.join();
    destroy_and_drain(main_window);
}

TEST(Messages, SendsToGoneWindowsOrEndedThreadsReturnZeroAtOnce) {
    EXPECT_EQ(SendMessageW(reinterpret_cast<HWND>(0x1234), WM_APP, 0, 0), 0);
    HWND window = make_window([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 5; });
    destroy_and_drain(window);
    auto late = std::async(std::launch::async, [&] { return SendMessageW(window, WM_APP, 0, 0); });
    ASSERT_TRUE(ready_within(late, 5));
    EXPECT_EQ(late.get(), 0);

    // A thread that never pumps again and ends: the sender waiting for it is released.
    std::promise<HWND> made;
    std::promise<void> may_end;
    std::thread owner([&] {
        made.set_value(make_window([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 9; }));
        may_end.get_future().wait();
    });
    HWND orphan = made.get_future().get();
    auto waiting = std::async(std::launch::async, [&] { return SendMessageW(orphan, WM_APP, 0, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(ready_within(waiting, 0));
    may_end.set_value();
    owner.join();
    ASSERT_TRUE(ready_within(waiting, 5));
    EXPECT_EQ(waiting.get(), 0);
}

TEST(Messages, SenderIsReleasedWhenTheProcedureThrows) {
    HWND window = make_window([](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_APP) throw std::runtime_error("reload failed");
        return 0;
    });
    auto reply = std::async(std::launch::async, [&] { return SendMessageW(window, WM_APP, 0, 0); });
    EXPECT_THROW(pump_until([&] { return ready_within(reply, 0); }), std::runtime_error);
    ASSERT_TRUE(ready_within(reply, 5));
    EXPECT_EQ(reply.get(), 0);
    destroy_and_drain(window);
}

TEST(Messages, PostedInOrderThenQuitWithItsCode) {
    std::string seen;
    HWND window = make_window([&](HWND, UINT message, WPARAM wparam, LPARAM) -> LRESULT {
        if (message == WM_APP) seen += static_cast<char>(wparam);
        return 0;
    });
    std::thread([&] {
        PostMessageW(window, WM_APP, 'a', 0);
        PostMessageW(window, WM_APP, 'b', 0);
    }).join();
    PostQuitMessage(3);
    PostMessageW(window, WM_APP, 'c', 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
    EXPECT_EQ(seen, "abc");
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x1234), WM_APP, 0, 0));
    destroy_and_drain(window);
}

TEST(Messages, NotificationsAreSentWithoutWaitingAndRunWhenTheOwnerRunsSentMessages) {
    std::string seen;
    HWND window = make_window([&](HWND, UINT message, WPARAM wparam, LPARAM) -> LRESULT {
        if (message == WM_APP) seen += static_cast<char>(wparam);
        return 0;
    });
    // From another thread: returns at once, though the owner is not pumping.
    auto sent = std::async(std::launch::async, [&] {
        bool all = SendNotifyMessageW(window, WM_APP, 'a', 0) && SendNotifyMessageW(window, WM_APP, 'b', 0);
        PostMessageW(window, WM_APP, 'p', 0);
        return all;
    });
    ASSERT_TRUE(ready_within(sent, 5));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(seen, "");
    // Run, in order, before the posted message that came after them.
    pump_until([&] { return seen.size() == 3; });
    EXPECT_EQ(seen, "abp");
    // To a window of the calling thread: run at once.
    EXPECT_TRUE(SendNotifyMessageW(window, WM_APP, 'c', 0));
    EXPECT_EQ(seen, "abpc");

    // Queued for a window that goes before they run: dropped, not run (and
    // their records freed, which the sanitizer builds check).
    std::async(std::launch::async, [&] { SendNotifyMessageW(window, WM_APP, 'x', 0); }).get();
    destroy_and_drain(window);
    EXPECT_EQ(seen, "abpc");
    EXPECT_FALSE(SendNotifyMessageW(window, WM_APP, 'y', 0));

    // Queued for a thread that ends without running them.
    std::promise<HWND> made;
    std::promise<void> may_end;
    std::thread owner([&] {
        made.set_value(make_window([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }));
        may_end.get_future().wait();
    });
    HWND orphan = made.get_future().get();
    EXPECT_TRUE(SendNotifyMessageW(orphan, WM_APP, 'z', 0));
    may_end.set_value();
    owner.join();
    EXPECT_FALSE(SendNotifyMessageW(orphan, WM_APP, 'z', 0));
}

TEST(Windows, AWindowBelongsToTheThreadThatMadeIt) {
    HWND window = make_window([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    const DWORD maker = GetCurrentThreadId();
    DWORD process = 0;
    EXPECT_EQ(GetWindowThreadProcessId(window, &process), maker);
    EXPECT_EQ(process, static_cast<DWORD>(getpid()));
    auto other = std::async(std::launch::async, [&] {
        return std::pair{GetCurrentThreadId(), GetWindowThreadProcessId(window, nullptr)};
    });
    const auto [other_id, seen_from_other] = other.get();
    EXPECT_NE(other_id, maker);
    EXPECT_EQ(seen_from_other, maker);
    destroy_and_drain(window);
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), 0u);
}

TEST(List_Box, StringsCountDeleteAndClose) {
    std::vector<UINT> seen;
    HWND window = make_window([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        seen.push_back(message);
        return 0;
    });
    EXPECT_EQ(SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"one")), 0);
    EXPECT_EQ(SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"two")), 1);
    EXPECT_EQ(SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"three")), 2);
    EXPECT_EQ(SendMessageW(window, LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(window, LB_DELETESTRING, 0, 0), 2);
    EXPECT_EQ(SendMessageW(window, LB_DELETESTRING, 5, 0), LB_ERR);
    EXPECT_EQ(SendMessageW(window, LB_DELETESTRING, 2, 0), LB_ERR);  // one past the last
    EXPECT_EQ(SendMessageW(window, LB_GETTEXTLEN, 1, 0), 5);
    EXPECT_EQ(SendMessageW(window, LB_GETTEXTLEN, 2, 0), LB_ERR);
    wchar_t text[32] = {};
    EXPECT_EQ(SendMessageW(window, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text)), 3);
    EXPECT_EQ(std::wstring(text), L"two");
    // Added after a deletion (whose storage the list may reuse): longer and shorter texts.
    EXPECT_EQ(SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"a longer fourth")), 2);
    EXPECT_EQ(SendMessageW(window, LB_DELETESTRING, 0, 0), 2);
    EXPECT_EQ(SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"5")), 2);
    const wchar_t* expected[] = {L"three", L"a longer fourth", L"5"};
    for (int i = 0; i < 3; ++i) {
        SendMessageW(window, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(std::wstring(text), expected[i]) << i;
    }

    // The title-bar close arrives as SC_CLOSE; the list box closes, which destroys.
    SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_NE(std::find(seen.begin(), seen.end(), WM_CLOSE), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), WM_DESTROY), seen.end());
    pump_until([] { return false; });  // the quit message of WM_DESTROY
}

TEST(List_Box, TheTopItemStaysWithinTheLastPage) {
    HWND window = make_window();  // 400 by 300
    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right - client.left, 400);
    EXPECT_EQ(client.bottom - client.top, 300);
    const LRESULT height = SendMessageW(window, LB_GETITEMHEIGHT, 0, 0);
    ASSERT_GT(height, 0);
    const LRESULT page = 300 / height;
    auto top = [&] { return SendMessageW(window, LB_GETTOPINDEX, 0, 0); };
    auto set_top = [&](LRESULT index) { return SendMessageW(window, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0); };

    EXPECT_EQ(top(), 0);
    EXPECT_EQ(set_top(0), 0);  // an empty list is at its top
    EXPECT_EQ(set_top(1), LB_ERR);
    for (LRESULT i = 0; i < page + 10; ++i) SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"x"));
    EXPECT_EQ(top(), 0);  // adding does not scroll
    const struct {
        LRESULT asked, result, top;
    } cases[] = {
        {5, 0, 5},
        {10, 0, 10},              // the last full page
        {11, 0, 10},              // no further
        {page + 9, 0, 10},        // the last item asked for: the last page
        {page + 10, LB_ERR, 10},  // no such item
        {0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(set_top(c.asked), c.result) << c.asked;
        EXPECT_EQ(top(), c.top) << c.asked;
    }
    // Deleting keeps the top index, as far as the list still reaches.
    set_top(10);
    SendMessageW(window, LB_DELETESTRING, page + 9, 0);
    EXPECT_EQ(top(), 9);
    SendMessageW(window, LB_DELETESTRING, 0, 0);
    EXPECT_EQ(top(), 8);
    set_top(3);
    SendMessageW(window, LB_DELETESTRING, 0, 0);
    EXPECT_EQ(top(), 3);

    // Minimised, there is no client area.
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.bottom - client.top, 0);
    ShowWindow(window, SW_HIDE);
    EXPECT_FALSE(GetClientRect(reinterpret_cast<HWND>(0x1234), &client));
    destroy_and_drain(window);
}

TEST(List_Box, ShownWindowWritesItsLinesToStandardOutput) {
    HWND window = make_window();
    Capture out(STDOUT_FILENO);
    auto add = [&](const wchar_t* text) { SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); };
    add(L"hidden");
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(out.text(), "");

    EXPECT_FALSE(ShowWindow(window, SW_SHOW));  // was not visible
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(out.text(), "hidden\n");  // what it holds, once shown
    add(L"日本");
    EXPECT_EQ(out.text(), "hidden\n日本\n");

    EXPECT_TRUE(ShowWindow(window, SW_MINIMIZE));
    EXPECT_TRUE(IsWindowVisible(window));  // minimised windows are visible, but not on screen
    add(L"while minimised");
    EXPECT_TRUE(ShowWindow(window, SW_SHOW));  // stays minimised
    EXPECT_EQ(out.text(), "hidden\n日本\n");
    ShowWindow(window, SW_RESTORE);
    EXPECT_EQ(out.text(), "hidden\n日本\nhidden\n日本\nwhile minimised\n");

    ShowWindow(window, SW_HIDE);
    add(L"after hide");
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(out.text(), "hidden\n日本\nhidden\n日本\nwhile minimised\n");
    out.restore();
    destroy_and_drain(window);
}

TEST(Windows, FindWindowSeesHiddenWindowsAndThoseOfOtherProcesses) {
    const std::wstring own_class = test_class();
    HWND window = make_window();
    EXPECT_EQ(FindWindowW(own_class.c_str(), nullptr), window);
    std::wstring upper = L"UI_TEST_WINDOW_" + std::to_wstring(getpid());
    EXPECT_EQ(FindWindowW(upper.c_str(), nullptr), window);  // class names ignore case
    EXPECT_EQ(FindWindowW(own_class.c_str(), L"test"), window);
    EXPECT_EQ(FindWindowW(own_class.c_str(), L"other title"), nullptr);
    destroy_and_drain(window);
    EXPECT_EQ(FindWindowW(own_class.c_str(), nullptr), nullptr);

    // A class only another process has; its window lives until we let it go.
    std::wstring foreign = L"ui_test_foreign_" + std::to_wstring(getpid());
    EXPECT_EQ(FindWindowW(foreign.c_str(), nullptr), nullptr);
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WNDCLASSEXW info{};
        info.cbSize = sizeof info;
        GetClassInfoExW(nullptr, L"LISTBOX", &info);
        info.lpszClassName = foreign.c_str();
        RegisterClassExW(&info);
        bool made = CreateWindowExW(0, foreign.c_str(), L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        char byte = made ? '1' : '0';
        [[maybe_unused]] auto w = write(ready[1], &byte, 1);
        [[maybe_unused]] auto r = read(release[0], &byte, 1);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, '1');
    EXPECT_NE(FindWindowW(foreign.c_str(), nullptr), nullptr);
    EXPECT_EQ(SendMessageW(FindWindowW(foreign.c_str(), nullptr), WM_APP, 0, 0), 0);
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(FindWindowW(foreign.c_str(), nullptr), nullptr);  // gone with its process
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST(Terminal, WithoutATerminalMenusAndMessageBoxesDoNotWait) {
    Stdin_From_Null no_terminal;
    bool commanded = false, marker = false;
    HWND window = make_window([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_COMMAND) commanded = true;
        if (message == WM_APP + 5) marker = true;
        return 0;
    });
    HMENU menu = CreatePopupMenu();
    EXPECT_TRUE(AppendMenuW(menu, MF_STRING, 200, L"&Show"));
    EXPECT_TRUE(AppendMenuW(menu, MF_SEPARATOR, 0, nullptr));
    EXPECT_FALSE(TrackPopupMenu(menu, TPM_RIGHTBUTTON, 0, 0, 0, window, nullptr));
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(DestroyMenu(menu));

    NOTIFYICONDATAW icon{};
    icon.cbSize = NOTIFYICONDATAW_V3_SIZE;
    icon.hWnd = window;
    icon.uID = 100;
    icon.uFlags = NIF_MESSAGE | NIF_TIP;
    icon.uCallbackMessage = WM_APP;
    Capture err(STDERR_FILENO);
    EXPECT_TRUE(Shell_NotifyIconW(NIM_ADD, &icon));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &icon));  // already there
    EXPECT_EQ(MessageBoxW(nullptr, L"二重起動になります", L"Exception", MB_OK), IDOK);
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &icon));
    err.restore();
    EXPECT_EQ(err.text(), "Exception: 二重起動になります\n");  // no hint: nobody could press Enter

    // Anything the menu posted would come before this.
    PostMessageW(window, WM_APP + 5, 0, 0);
    pump_until([&] { return marker; });
    EXPECT_FALSE(commanded);
    destroy_and_drain(window);
}

// Last: the test process keeps SIGTERM's "asked once" state afterwards.
TEST(Signals, TermClosesEveryTopLevelWindowAndHupPostsTheReloadCommand) {
    int reloads = 0, destroyed = 0;
    auto handler = [&](HWND, UINT message, WPARAM wparam, LPARAM) -> LRESULT {
        if (message == WM_COMMAND && wparam == 300) ++reloads;
        if (message == WM_DESTROY) ++destroyed;
        return 0;
    };
    HWND first = make_window(handler);
    HWND second = make_window(handler);
    win32::set_reload_command(first, 300);
    raise(SIGHUP);
    PostMessageW(first, WM_NULL, 0, 0);
    pump_until([&] { return reloads == 1; });
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(IsWindow(first));

    raise(SIGTERM);
    pump_until([&] { return destroyed == 2; });
    EXPECT_EQ(destroyed, 2);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(second));
    win32::set_reload_command(nullptr, 0);
    pump_until([] { return false; });
}
