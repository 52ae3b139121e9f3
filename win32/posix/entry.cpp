// The process entry point: calls the program's WinMain as Windows would.

#include "win32/console.hpp"
#include "win32/windows.hpp"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

int main(int argc, char** argv) {
    win32::set_command_line_arguments(argc, argv);
    // Instance handles only identify the program here; Windows' usual image base serves.
    static char command_line[] = "";
    return WinMain(reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000)), nullptr, command_line,
                   SW_SHOWDEFAULT);
}
