#include "zib/thread.hpp"

#include <string>
#include <system_error>

#include "win32/thread_id.hpp"
#include "zib/exception.hpp"

namespace {
std::atomic<int> live_threads{0};
}

Thread::~Thread() {
    // A waited thread that nobody joined would terminate the process.
    if (thread_.joinable()) thread_.join();
}

int Thread::live_count() noexcept { return live_threads.load(); }

void Thread::start() { launch(false); }

void Thread::start_detached() { launch(true); }

void Thread::launch(bool detached) {
    if (thread_.joinable()) throw Exception("thread already started");
    int live = live_threads.fetch_add(1);
    if (live >= max_threads) {
        live_threads.fetch_sub(1);
        throw Exception("too many threads (" + std::to_string(max_threads) + " running)");
    }
    try {
        std::thread thread([this, detached] { body(detached); });
        // A detached thread may delete this object at any moment from here on:
        // nothing below may touch it.
        if (detached)
            thread.detach();
        else
            thread_ = std::move(thread);
    } catch (const std::system_error& e) {
        live_threads.fetch_sub(1);
        throw Exception(std::string("thread start failed: ") + e.what());
    }
}

void Thread::body(bool detached) {
    id_.store(static_cast<int>(win32::current_thread_id()), std::memory_order_release);
    result_ = run();
    live_threads.fetch_sub(1);
    if (detached) delete this;
}

void Thread::wait() {
    if (thread_.joinable()) thread_.join();
}
