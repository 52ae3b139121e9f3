#include "proxy/tunnel.hpp"

#include "socket/socket.hpp"
#include "zib/exception.hpp"

Tunnel_Result run_tunnel(const Tunnel& tunnel) {
    Tunnel_Result result;
    Socket* sides[2] = {&tunnel.browser, &tunnel.server};
    std::uint64_t* counts[2] = {&result.to_server, &result.to_browser};  // bytes that left side i
    bool reading[2] = {true, true};
    try {
        // A peer that stops reading must not hold the tunnel longer than one that stops sending.
        tunnel.browser.set_send_timeout(tunnel.idle_limit);
        tunnel.server.set_send_timeout(tunnel.idle_limit);
        while (reading[0] || reading[1]) {
            Socket* waited[2];
            int index[2];
            std::size_t n = 0;
            for (int i = 0; i < 2; ++i)
                if (reading[i]) {
                    waited[n] = sides[i];
                    index[n++] = i;
                }
            bool ready[2] = {false, false};
            if (wait_readable(std::span<Socket* const>(waited, n), std::span<bool>(ready, n), tunnel.idle_limit) == 0) {
                result.idle = true;
                break;
            }
            for (std::size_t k = 0; k < n; ++k) {
                if (!ready[k]) continue;
                const int from = index[k], to = 1 - from;
                // Both sides are Socket here; send and receive are public on the two subclasses.
                const std::size_t got =
                    from == 0 ? tunnel.browser.receive(tunnel.buffer) : tunnel.server.receive(tunnel.buffer);
                if (got == 0) {
                    reading[from] = false;
                    sides[to]->shutdown_send();
                    continue;
                }
                const std::string_view data(tunnel.buffer.data(), got);
                if (to == 0)
                    tunnel.browser.send(data);
                else
                    tunnel.server.send(data);
                *counts[from] += got;
            }
        }
    } catch (const std::exception& e) {
        result.error = message_of(e);
    }
    return result;
}
