#include "win32/posix/signals.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#include "win32/posix/terminal.hpp"
#include "win32/posix/window_registry.hpp"
#include "win32/signals.hpp"

namespace win32::posix {

namespace {

std::atomic<int> pipe_read{-1};
std::atomic<int> pipe_write{-1};
std::atomic<bool> close_requested{false};

std::atomic<HWND> reload_window{nullptr};
std::atomic<WPARAM> reload_command{0};

void on_signal(int signal) {
    int saved_errno = errno;
    if ((signal == SIGINT || signal == SIGTERM) && close_requested.exchange(true)) {
        // Asked twice: the program did not close on the first request (it
        // may be stuck), so end now, as the signal would by default, but
        // with the terminal as we found it.
        terminal::restore_saved_mode();
        ::signal(signal, SIG_DFL);
        ::raise(signal);
    }
    char byte = static_cast<char>(signal);
    [[maybe_unused]] auto written = ::write(pipe_write.load(), &byte, 1);
    errno = saved_errno;
}

}  // namespace

void install_signal_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
        pipe_read.store(fds[0]);
        pipe_write.store(fds[1]);
        // A closed screen or pipe must not end the program: writes just fail.
        ::signal(SIGPIPE, SIG_IGN);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCONT}) {
            struct sigaction action {};
            action.sa_handler = on_signal;
            action.sa_flags = SA_RESTART;
            sigemptyset(&action.sa_mask);
            sigaction(signal, &action, nullptr);
        }
    });
}

int signal_pipe() noexcept { return pipe_read.load(); }

bool dispatch_signals() {
    bool close = false;
    char buffer[64];
    ssize_t got;
    while ((got = ::read(pipe_read.load(), buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < got; ++i) {
            switch (buffer[i]) {
                case SIGINT:
                case SIGTERM:
                    // The same path as the menu's Exit.
                    close = true;
                    for (HWND window : top_level_windows()) PostMessageW(window, WM_CLOSE, 0, 0);
                    break;
                case SIGHUP:
                    if (HWND window = reload_window.load()) PostMessageW(window, WM_COMMAND, reload_command.load(), 0);
                    break;
                case SIGCONT: terminal::reapply_key_mode(); break;
                default: break;
            }
        }
    }
    return close;
}

}  // namespace win32::posix

void win32::set_reload_command(HWND window, WPARAM command) {
    win32::posix::reload_command.store(command);
    win32::posix::reload_window.store(window);
}
