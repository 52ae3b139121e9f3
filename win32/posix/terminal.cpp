#include "win32/posix/terminal.hpp"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>

namespace win32::posix::terminal {

namespace {

// Plain data, readable from signal handlers and after static destruction.
termios saved_mode;
std::atomic<bool> mode_changed{false};  // saved_mode is valid and key mode is applied
std::atomic<bool> input_closed{false};

std::mutex mode_mutex;
int key_mode_users = 0;

struct sigaction previous_actions[NSIG];
constexpr int fatal_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t wrote = ::write(fd, data.data(), data.size());
        if (wrote > 0) {
            data.remove_prefix(static_cast<std::size_t>(wrote));
        } else if (wrote < 0 && errno == EAGAIN) {
            pollfd out{fd, POLLOUT, 0};
            ::poll(&out, 1, 1000);
        } else if (!(wrote < 0 && errno == EINTR)) {
            return;  // a closed or broken screen: the text is lost, nothing else
        }
    }
}

bool foreground() { return ::isatty(STDIN_FILENO) && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp(); }

// A background process may still set the mode when SIGTTOU is blocked
// (instead of being stopped by it).
int set_mode(const termios& mode) noexcept {
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &old);
    int result;
    while ((result = ::tcsetattr(STDIN_FILENO, TCSANOW, &mode)) != 0 && errno == EINTR) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return result;
}

void apply_key_mode_locked() {
    if (!foreground()) return;
    if (!mode_changed.load()) {
        if (::tcgetattr(STDIN_FILENO, &saved_mode) != 0) return;
    }
    termios keys = saved_mode;
    // One key at a time, not echoed; Ctrl+C still raises SIGINT and output
    // still turns "\n" into a new line.
    keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    if (set_mode(keys) == 0) mode_changed.store(true);
}

void on_fatal_signal(int signal, siginfo_t* info, void*) {
    restore_saved_mode();
    sigaction(signal, &previous_actions[signal], nullptr);
    // A fault repeats when the handler returns and reaches the previous
    // action; a signal that was sent must be sent again.
    if (info->si_code <= 0 || signal == SIGABRT) raise(signal);
}

void install_restorers() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit([] { restore_saved_mode(); });
        for (int signal : fatal_signals) {
            struct sigaction action {};
            action.sa_sigaction = on_fatal_signal;
            action.sa_flags = SA_SIGINFO;
            sigemptyset(&action.sa_mask);
            sigaction(signal, &action, &previous_actions[signal]);
        }
    });
}

struct Screen {
    std::mutex mutex;
    std::string prompt;
    bool prompt_shown = false;  // on a terminal, as the last, unfinished line
};

Screen& screen() {
    static auto& s = *new Screen;
    return s;
}

void hide_prompt_locked(Screen& s) {
    if (s.prompt_shown) write_all(STDERR_FILENO, "\r\033[K");
}

void redraw_prompt_locked(Screen& s) {
    if (s.prompt_shown) write_all(STDERR_FILENO, s.prompt);
}

struct Keys {
    std::mutex mutex;
    std::string buffer;
};

Keys& keys() {
    static auto& k = *new Keys;
    return k;
}

}  // namespace

int take_key() {
    Keys& k = keys();
    std::lock_guard lock(k.mutex);
    if (k.buffer.empty()) return -1;
    auto key = static_cast<unsigned char>(k.buffer.front());
    k.buffer.erase(0, 1);
    return key;
}

bool has_keys() {
    Keys& k = keys();
    std::lock_guard lock(k.mutex);
    return !k.buffer.empty();
}

bool interactive() { return !input_closed.load() && foreground(); }

void enter_key_mode() {
    install_restorers();
    std::lock_guard lock(mode_mutex);
    if (key_mode_users++ == 0) apply_key_mode_locked();
}

void leave_key_mode() {
    std::lock_guard lock(mode_mutex);
    if (key_mode_users == 0 || --key_mode_users > 0) return;
    restore_saved_mode();
}

void restore_saved_mode() noexcept {
    if (mode_changed.exchange(false)) set_mode(saved_mode);
}

void reapply_key_mode() {
    std::lock_guard lock(mode_mutex);
    if (key_mode_users > 0) apply_key_mode_locked();
}

bool read_keys() {
    char buffer[256];
    for (;;) {
        ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got > 0) {
            Keys& k = keys();
            std::lock_guard lock(k.mutex);
            k.buffer.append(buffer, static_cast<std::size_t>(got));
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return true;
        // End of file, or a hung-up terminal: stop listening for good.
        input_closed.store(true);
        return false;
    }
}

void write_output_line(std::string_view line) {
    Screen& s = screen();
    std::lock_guard lock(s.mutex);
    hide_prompt_locked(s);
    std::string text(line);
    text += '\n';
    write_all(STDOUT_FILENO, text);
    redraw_prompt_locked(s);
}

void write_error_text(std::string_view text) {
    Screen& s = screen();
    std::lock_guard lock(s.mutex);
    hide_prompt_locked(s);
    write_all(STDERR_FILENO, text);
    redraw_prompt_locked(s);
}

void show_prompt(std::string_view prompt) {
    Screen& s = screen();
    std::lock_guard lock(s.mutex);
    hide_prompt_locked(s);
    s.prompt = prompt;
    s.prompt_shown = ::isatty(STDERR_FILENO);
    write_all(STDERR_FILENO, s.prompt_shown ? s.prompt : s.prompt + "\n");
}

void clear_prompt() {
    Screen& s = screen();
    std::lock_guard lock(s.mutex);
    hide_prompt_locked(s);
    s.prompt.clear();
    s.prompt_shown = false;
}

}  // namespace win32::posix::terminal
