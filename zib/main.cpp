// The program: start-up, the message loop and shutdown. Any error that
// reaches the outermost handler is shown in a message box and the program
// ends with exit code 0.

#include <memory>

#include "base/exception.hpp"
#include "base/streams.hpp"
#include "proxy/proxy_thread.hpp"
#include "socket/socket.hpp"
#include "win32/console.hpp"
#include "win32/memory.hpp"
#include "win32/signals.hpp"
#include "win32/text.hpp"
#include "win32/windows.hpp"
#include "zib/error_log.hpp"
#include "zib/log_stream.hpp"
#include "zib/main_window.hpp"
#include "zib/proxy_settings.hpp"
#include "zib/rule_set.hpp"
#include "zib/rule_tester.hpp"
#include "zib/tray_icon.hpp"

using zib::apply_rules;
using zib::asks_for_rule_tester;
using zib::CMD_RELOAD;
using zib::list_box_proc;
using zib::load_settings;
using zib::Log_Stream;
using zib::main_window_proc;
using zib::open_error_log;
using zib::proxy_options;
using zib::run_rule_tester;
using zib::take_window_error;
using zib::tray_icon;

using base::Assertion_Error;
using base::error_log;
using base::Exception;
using base::message_of;
using base::type_name_of;
using base::window_log;

using proxy::LISTEN_PORT;
using proxy::Proxy_Thread;
using sockets::Client_Socket;
using sockets::resolve;
using sockets::socket_startup;

namespace {

constexpr const wchar_t* class_name = L"zib_window";
constexpr const wchar_t* window_title = L"Brindlemoor version alpha-01";
constexpr DWORD window_style = 0x00FF0000;  // overlapped window with both scroll bars, not visible

// The listener lives until the process ends; after an error while running
// nobody stops it.
Proxy_Thread* listener = nullptr;

[[noreturn]] void assertion_failed(const char* what, int line) {
    throw Assertion_Error(std::string("assertion failed: ") + what + " (" + __FILE__ + ":" + std::to_string(line) +
                          ")");
}

int run(HINSTANCE instance) {
    socket_startup();
    win32::prepare_page_memory();

    if (FindWindowW(class_name, nullptr)) throw Exception("二重起動になります");

    load_settings();

    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    GetClassInfoExW(nullptr, L"LISTBOX", &window_class);
    list_box_proc = window_class.lpfnWndProc;
    window_class.lpfnWndProc = main_window_proc;
    window_class.lpszClassName = class_name;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!RegisterClassExW(&window_class)) assertion_failed("RegisterClassExW", __LINE__);

    HWND window = CreateWindowExW(WS_EX_CLIENTEDGE, class_name, window_title, window_style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance, nullptr);
    if (!window) assertion_failed("CreateWindowExW", __LINE__);
    // Where signals exist, SIGHUP asks for the same Reload as the menu.
    win32::set_reload_command(window, CMD_RELOAD);
    tray_icon.hWnd = window;
    tray_icon.hIcon = window_class.hIcon;
    Shell_NotifyIconW(NIM_ADD, &tray_icon);

    // The streams and the listener live until the process ends: connection
    // threads may still write while it does.
    window_log = new Log_Stream;
    error_log = open_error_log("error.log").release();

    listener = new Proxy_Thread;
    listener->html_filter = apply_rules;
    listener->options = proxy_options;
    listener->start();

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (auto error = take_window_error()) std::rethrow_exception(error);

    listener->stop_requested = true;
    Client_Socket wake_up(resolve("localhost"), LISTEN_PORT);
    listener->wait();
    wake_up.close();
    Shell_NotifyIconW(NIM_DELETE, &tray_icon);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // `--test URI FILE`: the rule tester, with its own exit status and no window.
    if (const auto arguments = win32::command_line_arguments(); asks_for_rule_tester(arguments)) {
        win32::attach_parent_console();
        return run_rule_tester(arguments, {win32::write_error, win32::write_output});
    }
    try {
        return run(instance);
    } catch (const std::exception& e) {
        const std::wstring text = win32::utf8_to_wide(message_of(e));
        const std::wstring caption = win32::utf8_to_wide(type_name_of(e));
        MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
    } catch (...) {
        MessageBoxW(nullptr, L"unknown error", L"Exception", MB_OK);
    }
    return 0;
}
