#include "proxy/handler_pool.hpp"

#include <algorithm>

namespace proxy {

bool Handler_Pool::hand_over(Handover& work) {
    std::lock_guard lock(mutex_);
    if (closed_ || waiting_.empty()) return false;
    Place* place = waiting_.back();
    waiting_.pop_back();
    place->work = std::move(work);
    place->given = true;
    place->woken.release();
    return true;
}

bool Handler_Pool::next(Handover& work, Place& place) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || waiting_.size() >= max_waiting) return false;
        place.given = false;
        waiting_.push_back(&place);
    }
    if (!place.woken.try_acquire_for(keep_)) {
        std::lock_guard lock(mutex_);
        if (!place.given && !closed_) {
            std::erase(waiting_, &place);
            return false;
        }
        // Woken just as the time ran out: the wake-up is already done.
        place.woken.acquire();
    }
    if (!place.given) {
        // Woken by close: wait until its wake-ups are all done.
        std::lock_guard lock(mutex_);
        return false;
    }
    work = std::move(place.work);
    return true;
}

void Handler_Pool::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (Place* place : waiting_) place->woken.release();
    waiting_.clear();
}

std::size_t Handler_Pool::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

}  // namespace proxy
