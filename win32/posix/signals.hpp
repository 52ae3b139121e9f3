#pragma once
// Signals turned into messages (internal to the POSIX layer). The handlers
// only write the signal number to a pipe; a thread waiting for messages
// reads it and acts on the main path: SIGINT and SIGTERM post WM_CLOSE to
// every top-level window, SIGHUP posts the reload command, SIGCONT puts the
// terminal back into key mode.

namespace win32::posix {

// Installs the handlers once (at the first top-level window).
void install_signal_handlers();
// The pipe's read end, or -1 before the handlers are installed.
int signal_pipe() noexcept;
// Acts on the signals that arrived; true when one asked to close.
bool dispatch_signals();

}  // namespace win32::posix
