#pragma once
// Operating-system threads with an explicit stack reservation. The system's
// default (2 MiB in a MinGW executable) would let a 32-bit process hold only a
// few hundred threads before its address space runs out; a thread started
// here reserves only what it is asked for.

#include <cstddef>
#include <cstdint>

namespace win32 {

using Thread_Body = void (*)(void* argument);

// An opaque handle of a started thread; 0 is no thread.
using Thread_Handle = std::uintptr_t;

// Starts body(argument) on a new thread reserving `stack_reserve` bytes of
// stack (more in sanitizer builds, whose frames are larger). Returns 0 and
// sets `error` to the system's code when the thread cannot be started.
Thread_Handle start_thread(Thread_Body body, void* argument, std::size_t stack_reserve, unsigned long& error) noexcept;

// Blocks until the thread has ended, then releases the handle.
void join_thread(Thread_Handle thread) noexcept;

// Releases the handle of a thread that nobody will wait for; it runs on.
void detach_thread(Thread_Handle thread) noexcept;

// The reservation that start_thread really asks of the system for `stack_reserve`.
std::size_t effective_stack_reserve(std::size_t stack_reserve) noexcept;

}  // namespace win32
