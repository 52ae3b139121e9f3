#pragma once
// The terminal as the screen and keyboard (internal to the POSIX layer).
//
// Output goes straight to the file descriptors (no stdio buffers), so lines
// from the window and prompts from menus and message boxes keep their order.
// Key mode (no line editing, no echo) is entered while a tray icon waits for
// Enter; the saved mode is put back on every way out: normal exit, a signal
// that ends the process, a crash.

#include <string>
#include <string_view>

namespace win32::posix::terminal {

// Standard input is a terminal, we are in its foreground and it has not ended;
// only then does anything wait for a key.
bool interactive();

// Key mode, counted: the terminal returns to its saved mode at the last leave.
void enter_key_mode();
void leave_key_mode();
// Puts the saved mode back now (async-signal-safe; for fatal paths).
void restore_saved_mode() noexcept;
// Applies key mode again after the process was stopped and continued.
void reapply_key_mode();

// Reads the bytes that are waiting on standard input into the key buffer;
// false when the input has ended (end of file or an error), after which
// nothing reads it again.
bool read_keys();
// The next key of the buffer, or -1. Keys typed ahead stay for whoever asks
// next (Enter, then the menu's letter, may come in one read).
int take_key();
bool has_keys();

// A line on standard output; a prompt shown on standard error stays below it.
void write_output_line(std::string_view line);
// Text on standard error, below any prompt (which is redrawn after it).
void write_error_text(std::string_view text);
// One prompt line on standard error that waits for a key; cleared by clear_prompt.
void show_prompt(std::string_view prompt);
void clear_prompt();

}  // namespace win32::posix::terminal
