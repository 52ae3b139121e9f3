#include "proxy/handler_pool.hpp"

#include <algorithm>

namespace proxy {

bool Handler_Pool::hand_over(Handover& work) {
    std::shared_ptr<Place> place;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || waiting_.empty()) return false;
        place = std::move(waiting_.back());
        waiting_.pop_back();
    }
    {
        std::lock_guard lock(place->mutex);
        place->work = std::move(work);
        place->given = true;
    }
    // After the unlock, so the woken handler finds the place's lock free.
    place->woken.notify_one();
    return true;
}

bool Handler_Pool::next(Handover& work, const std::shared_ptr<Place>& place) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || waiting_.size() >= max_waiting) return false;
        waiting_.push_back(place);
    }
    const auto woken = [&] { return place->given || place->closed; };
    std::unique_lock lock(place->mutex);
    if (!place->woken.wait_for(lock, keep_, woken)) {
        lock.unlock();
        {
            std::lock_guard pool_lock(mutex_);
            const auto found = std::find(waiting_.begin(), waiting_.end(), place);
            if (found != waiting_.end()) {
                waiting_.erase(found);
                return false;
            }
        }
        // Taken out just as the time ran out: the hand-over (or close) is under way.
        lock.lock();
        place->woken.wait(lock, woken);
    }
    if (!place->given) return false;
    work = std::move(place->work);
    place->given = false;
    return true;
}

void Handler_Pool::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (const auto& place : waiting_) {
        std::lock_guard place_lock(place->mutex);
        place->closed = true;
        place->woken.notify_one();
    }
    waiting_.clear();
}

std::size_t Handler_Pool::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

}  // namespace proxy
