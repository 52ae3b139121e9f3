#include "base/thread.hpp"

#include <string>

#include "base/exception.hpp"
#include "win32/thread.hpp"
#include "win32/thread_id.hpp"

namespace base {

namespace {
std::atomic<int> live_threads{0};
}

Thread::~Thread() {
    // A waited thread still running would use this object after its end.
    wait();
}

int Thread::live_count() noexcept { return live_threads.load(); }

void Thread::start() { launch(false); }

void Thread::start_detached() { launch(true); }

void Thread::launch(bool detached) {
    if (handle_ != 0) throw Exception("thread already started");
    int live = live_threads.fetch_add(1);
    if (live >= max_threads) {
        live_threads.fetch_sub(1);
        throw Exception("too many threads (" + std::to_string(max_threads) + " running)");
    }
    detached_ = detached;
    unsigned long error = 0;
    const win32::Thread_Handle handle = win32::start_thread(&Thread::body, this, stack_reserve, error);
    if (handle == 0) {
        live_threads.fetch_sub(1);
        throw Exception("thread start failed (system error " + std::to_string(error) + ")");
    }
    // A detached thread may delete this object at any moment from here on:
    // nothing below may touch it.
    if (detached)
        win32::detach_thread(handle);
    else
        handle_ = handle;
}

void Thread::body(void* self) {
    auto* thread = static_cast<Thread*>(self);
    const bool detached = thread->detached_;
    thread->id_.store(static_cast<int>(win32::current_thread_id()), std::memory_order_release);
    thread->result_ = thread->run();
    live_threads.fetch_sub(1);
    if (detached) delete thread;
}

void Thread::wait() {
    if (handle_ == 0) return;
    win32::join_thread(handle_);
    handle_ = 0;
}

}  // namespace base
