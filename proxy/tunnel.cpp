#include "proxy/tunnel.hpp"

#include "base/exception.hpp"
#include "socket/socket.hpp"

using base::message_of;

namespace proxy {

using sockets::Socket;
using sockets::Socket_Wait;
using sockets::wait_for;

namespace {

// One direction: bytes read from `from` wait in `pending` until `to` takes them.
struct Direction {
    Socket& from;
    Socket& to;
    std::span<char> buffer;
    std::uint64_t& count;
    std::span<char> pending{};
    bool open = true;         // `from` may still send
    bool passed_end = false;  // its end has been passed on to `to`

    // Reads what has arrived; false when nothing had.
    bool read() {
        const auto got = from.receive_some(buffer);
        if (!got) return false;
        if (*got == 0)
            open = false;
        else
            pending = buffer.first(*got);
        return true;
    }
    // Sends what `to` takes now.
    void write() {
        const std::size_t sent = to.send_some(std::string_view(pending.data(), pending.size()));
        count += sent;
        pending = pending.subspan(sent);
    }
    void pass_end() {
        if (!open && pending.empty() && !passed_end) {
            to.shutdown_send();
            passed_end = true;
        }
    }
    bool done() const { return !open && pending.empty(); }
};

}  // namespace

Tunnel_Result run_tunnel(const Tunnel& tunnel) {
    Tunnel_Result result;
    const std::size_t half = tunnel.buffer.size() / 2;
    Direction up{tunnel.browser, tunnel.server, tunnel.buffer.first(half), result.to_server};
    Direction down{tunnel.server, tunnel.browser, tunnel.buffer.subspan(half), result.to_browser};
    try {
        tunnel.browser.set_blocking(false);
        tunnel.server.set_blocking(false);
        while (!up.done() || !down.done()) {
            // Read a side only when its last piece has gone on: the buffers
            // stay fixed, and a slow reader slows its sender, as TCP would.
            Socket_Wait waits[2] = {
                {&tunnel.browser, up.open && up.pending.empty(), !down.pending.empty()},
                {&tunnel.server, down.open && down.pending.empty(), !up.pending.empty()},
            };
            if (wait_for(waits, tunnel.idle_limit) == 0) {
                result.idle = true;
                break;
            }
            // Whatever was read is offered to the other side at once.
            if (waits[0].readable && up.read()) up.write();
            if (waits[1].readable && down.read()) down.write();
            if (waits[0].writable && !down.pending.empty()) down.write();
            if (waits[1].writable && !up.pending.empty()) up.write();
            up.pass_end();
            down.pass_end();
        }
    } catch (const std::exception& e) {
        result.error = message_of(e);
    }
    try {
        tunnel.browser.set_blocking(true);
        tunnel.server.set_blocking(true);
    } catch (...) {
    }
    return result;
}

}  // namespace proxy
