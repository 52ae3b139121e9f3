#include "proxy/handler_pool.hpp"

#include <algorithm>

namespace proxy {

bool Handler_Pool::hand_over(Handover& work) {
    std::lock_guard lock(mutex_);
    if (closed_ || waiting_.empty()) return false;
    Waiter* waiter = waiting_.back();
    waiting_.pop_back();
    waiter->work = std::move(work);
    waiter->given = true;
    waiter->woken.notify_one();
    return true;
}

bool Handler_Pool::next(Handover& work) {
    Waiter me;
    std::unique_lock lock(mutex_);
    if (closed_ || waiting_.size() >= max_waiting) return false;
    waiting_.push_back(&me);
    me.woken.wait_for(lock, keep_, [&] { return me.given || closed_; });
    if (!me.given) {
        std::erase(waiting_, &me);
        return false;
    }
    work = std::move(me.work);
    return true;
}

void Handler_Pool::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (Waiter* waiter : waiting_) waiter->woken.notify_one();
}

std::size_t Handler_Pool::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

}  // namespace proxy
