#include "base/page_buffers.hpp"

#include <mutex>
#include <vector>

namespace base {

namespace {

// Two pages at once, each with its received and its rewritten copy.
constexpr std::size_t max_count = 4;
constexpr std::size_t max_size = std::size_t{4} << 20;

struct Kept_Buffers {
    std::mutex lock;
    std::vector<std::string> buffers;
};

Kept_Buffers& kept() {
    static auto& buffers = *new Kept_Buffers;  // used until the process ends, by threads that may outlive main
    return buffers;
}

}  // namespace

std::string take_page_buffer() {
    Kept_Buffers& k = kept();
    std::lock_guard guard(k.lock);
    if (k.buffers.empty()) return {};
    std::string buffer = std::move(k.buffers.back());
    k.buffers.pop_back();
    return buffer;
}

void give_page_buffer(std::string buffer) noexcept {
    if (buffer.capacity() == 0 || buffer.capacity() > max_size) return;
    buffer.clear();
    Kept_Buffers& k = kept();
    std::lock_guard guard(k.lock);
    if (k.buffers.size() >= max_count) return;
    try {
        k.buffers.push_back(std::move(buffer));
    } catch (...) {
        // No room to keep it: it is freed like any other.
    }
}

}  // namespace base
