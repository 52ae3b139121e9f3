#include "proxy/proxy_options.hpp"

#include <algorithm>
#include <cstring>

namespace proxy {

using sockets::Address;
using sockets::Port;

namespace {

std::uint32_t host_order(Address address) {
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

}  // namespace

bool Client_Range::contains(Address peer) const noexcept {
    if (prefix <= 0) return true;
    const std::uint32_t mask = prefix >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefix);
    return (host_order(peer) & mask) == (address & mask);
}

bool Proxy_Options::allows_client(Address peer) const noexcept {
    if (allowed_clients.empty()) return true;
    return std::any_of(allowed_clients.begin(), allowed_clients.end(),
                       [peer](const Client_Range& range) { return range.contains(peer); });
}

bool Proxy_Options::allows_tunnel_to(Port port) const noexcept {
    return tunnels && std::find(tunnel_ports.begin(), tunnel_ports.end(), port) != tunnel_ports.end();
}

}  // namespace proxy
