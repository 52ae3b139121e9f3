#pragma once
// The command line and the standard streams of a program that runs as a
// window on Windows but can also be used from a console (the rule tester).

#include <string>
#include <string_view>
#include <vector>

namespace win32 {

// The program's arguments after its name, as UTF-8.
std::vector<std::string> command_line_arguments();

// Makes standard output and standard error usable: on Windows, a window
// program has none unless they were redirected, so those that were not are
// joined to the console of the process that started it (if it has one).
// Elsewhere nothing is needed.
void attach_parent_console();

// Writes bytes to standard output or standard error: to a file or a pipe
// unchanged, to a Windows console as UTF-8 text. False when it fails.
bool write_output(std::string_view bytes);
bool write_error(std::string_view bytes);

#ifndef _WIN32
// Keeps the arguments of main for command_line_arguments.
void set_command_line_arguments(int count, char** arguments);
#endif

}  // namespace win32
