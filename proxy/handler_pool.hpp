#pragma once
// Handler threads that have served their connection wait here a while for
// the next one instead of ending: starting a thread costs the system more
// than relaying a small answer. A connection is still served by one thread
// from its start line to its end line, and waiting threads count against the
// thread limit like working ones.
//
// States of a waiting handler: waiting (its place in `waiting_`), given a
// connection (`given`, taken out of `waiting_` by hand_over), or gone (its
// time ran out, too many were waiting, or the pool was closed).
//
// A handler waits on a condition of its own place, under the place's own
// lock: woken, it goes straight to its connection instead of queueing for the
// pool's lock, which the listener may still hold (that queueing cost a sleep
// and a second wake-up per connection). Whoever wakes a place holds a share
// of it, so the place outlives the wake-up even if its thread then ends.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "proxy/proxy_options.hpp"
#include "socket/socket.hpp"

namespace proxy {

// What a handler needs for one connection.
struct Handover {
    std::unique_ptr<sockets::Response_Socket> browser;
    std::shared_ptr<const Proxy_Options> options;
};

class Handler_Pool {
public:
    // Where one handler thread waits; the thread keeps one for its whole life.
    class Place {
        friend class Handler_Pool;
        std::mutex mutex;
        std::condition_variable woken;
        Handover work;        // the flags and `work` are guarded by `mutex`
        bool given = false;   // `work` holds the next connection
        bool closed = false;  // the pool closed while this place waited
    };

    // More waiting threads than a burst of browser connections needs only hold memory.
    static constexpr std::size_t max_waiting = 64;

    // `keep`: how long a handler waits for its next connection before it ends.
    explicit Handler_Pool(std::chrono::milliseconds keep = std::chrono::seconds(30)) : keep_(keep) {}

    // Gives the connection to the handler that began waiting last (its memory
    // is the most likely still in the caches); false, with `work` untouched,
    // when none waits.
    bool hand_over(Handover& work);
    // A handler that has served its connection waits at `place` up to `keep`
    // for the next; false when none came, when max_waiting wait already, or
    // once the pool is closed.
    bool next(Handover& work, const std::shared_ptr<Place>& place);
    // Ends every wait, now and later: the listener has stopped.
    void close();
    // Handlers waiting right now.
    std::size_t waiting() const;

private:
    const std::chrono::milliseconds keep_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Place>> waiting_;
    bool closed_ = false;
};

}  // namespace proxy
