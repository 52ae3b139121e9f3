#include "proxy/refusal.hpp"

#include <algorithm>

namespace proxy {

using sockets::Response_Socket;
using sockets::Server_Socket;
using sockets::Socket;
using sockets::wait_readable;

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds left_until(Clock::time_point deadline) {
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                    std::chrono::milliseconds(0));
}

// Reads and drops until the browser closes, an error, or a bound.
void drain_until(Response_Socket& browser, std::span<char> buffer, Clock::time_point deadline) {
    std::size_t drained = 0;
    Socket* sockets[] = {&browser};
    bool ready[1];
    while (drained < linger_bytes) {
        const auto left = left_until(deadline);
        if (left.count() == 0 || wait_readable(sockets, ready, left) == 0) return;
        const std::size_t n = browser.receive(buffer);
        if (n == 0) return;
        drained += n;
    }
}

}  // namespace

void answer_and_close(Response_Socket& browser, std::string_view answer, std::span<char> buffer) noexcept {
    const auto deadline = Clock::now() + linger_time;
    try {
        browser.set_send_timeout(linger_time);
        browser.send(answer);
        browser.shutdown_send();
        drain_until(browser, buffer, deadline);
    } catch (...) {
        // The browser has gone or stalls: nothing more to tell it.
    }
    browser.close();
}

void close_after_exchange(Response_Socket& browser, std::span<char> buffer) noexcept {
    try {
        Socket* sockets[] = {&browser};
        bool ready[1];
        if (browser.is_open() && wait_readable(sockets, ready, std::chrono::milliseconds(0)) > 0) {
            browser.shutdown_send();
            drain_until(browser, buffer, Clock::now() + linger_time);
        }
    } catch (...) {
    }
    browser.close();
}

void Refused_Connections::add(std::unique_ptr<Response_Socket> connection, std::string_view answer) noexcept {
    try {
        connection->set_send_timeout(std::chrono::milliseconds(100));
        connection->send(answer);
        connection->shutdown_send();
        if (entries_.size() >= capacity) entries_.erase(entries_.begin());
        entries_.push_back(Entry{std::move(connection), Clock::now() + linger_time});
    } catch (...) {
        // Gone already, or no memory to keep it: close it now.
        if (connection) connection->close();
    }
}

void Refused_Connections::wait_for_connection(Server_Socket& server) {
    std::vector<Socket*> sockets;
    for (;;) {
        drop_expired();
        sockets.assign(1, &server);
        for (auto& entry : entries_) sockets.push_back(entry.socket.get());
        const auto ready = std::make_unique<bool[]>(sockets.size());
        auto limit = std::chrono::milliseconds(-1);
        for (auto& entry : entries_) {
            const auto left = left_until(entry.deadline);
            if (limit.count() < 0 || left < limit) limit = left;
        }
        wait_readable(sockets, std::span<bool>(ready.get(), sockets.size()), limit);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (ready[i + 1] && !drain(entries_[i])) continue;
            if (kept != i) entries_[kept] = std::move(entries_[i]);
            ++kept;
        }
        entries_.resize(kept);
        if (ready[0]) return;
    }
}

bool Refused_Connections::drain(Entry& entry) noexcept {
    char buffer[4096];
    try {
        const std::size_t n = entry.socket->receive(buffer);
        entry.drained += n;
        return n > 0 && entry.drained < linger_bytes;
    } catch (...) {
        return false;
    }
}

void Refused_Connections::drop_expired() {
    const auto now = Clock::now();
    std::erase_if(entries_, [now](const Entry& entry) { return entry.deadline <= now; });
}

}  // namespace proxy
