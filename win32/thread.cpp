#include "win32/thread.hpp"

#include <new>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace win32 {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t sanitizer_factor = 4;  // redzones and instrumentation make every frame larger
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t sanitizer_factor = 4;
#else
constexpr std::size_t sanitizer_factor = 1;
#endif
#else
constexpr std::size_t sanitizer_factor = 1;
#endif

struct Start {
    Thread_Body body;
    void* argument;
};

}  // namespace

std::size_t effective_stack_reserve(std::size_t stack_reserve) noexcept { return stack_reserve * sanitizer_factor; }

#ifdef _WIN32

namespace {

unsigned __stdcall trampoline(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.body(s.argument);
    return 0;
}

}  // namespace

Thread_Handle start_thread(Thread_Body body, void* argument, std::size_t stack_reserve, unsigned long& error) noexcept {
    auto* start = new (std::nothrow) Start{body, argument};
    if (!start) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    // Without the flag the size would only be what is committed at first,
    // and the reservation would stay the executable's default.
    const auto handle = _beginthreadex(nullptr, static_cast<unsigned>(effective_stack_reserve(stack_reserve)),
                                       trampoline, start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (handle == 0) {
        error = GetLastError();
        delete start;
        return 0;
    }
    return static_cast<Thread_Handle>(handle);
}

void join_thread(Thread_Handle thread) noexcept {
    if (!thread) return;
    WaitForSingleObject(reinterpret_cast<HANDLE>(thread), INFINITE);
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

void detach_thread(Thread_Handle thread) noexcept {
    if (thread) CloseHandle(reinterpret_cast<HANDLE>(thread));
}

#else

namespace {

void* trampoline(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.body(s.argument);
    return nullptr;
}

}  // namespace

Thread_Handle start_thread(Thread_Body body, void* argument, std::size_t stack_reserve, unsigned long& error) noexcept {
    auto* start = new (std::nothrow) Start{body, argument};
    if (!start) {
        error = 8;  // not enough memory
        return 0;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    int result = pthread_attr_setstacksize(&attributes, effective_stack_reserve(stack_reserve));
    pthread_t thread{};
    if (result == 0) result = pthread_create(&thread, &attributes, trampoline, start);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        error = static_cast<unsigned long>(result);
        delete start;
        return 0;
    }
    static_assert(sizeof(pthread_t) <= sizeof(Thread_Handle));
    return static_cast<Thread_Handle>(thread);
}

void join_thread(Thread_Handle thread) noexcept {
    if (thread) pthread_join(static_cast<pthread_t>(thread), nullptr);
}

void detach_thread(Thread_Handle thread) noexcept {
    if (thread) pthread_detach(static_cast<pthread_t>(thread));
}

#endif

}  // namespace win32
