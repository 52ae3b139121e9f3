#pragma once
// An HTTPS tunnel: bytes copied both ways between the browser and the origin,
// unread and unchanged (they are encrypted), until both sides have closed,
// either side fails, or nothing moves for the idle limit. One thread serves
// both directions with non-blocking sockets, so a peer that sends while it
// cannot receive never stalls the other direction. A side that closes has
// its end passed on to the other side, which may still finish sending.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace sockets {
class Client_Socket;
class Response_Socket;
}  // namespace sockets

namespace proxy {

struct Tunnel {
    sockets::Response_Socket& browser;
    sockets::Client_Socket& server;
    std::span<char> buffer;  // split in two, one half per direction
    std::chrono::milliseconds idle_limit;
};

struct Tunnel_Result {
    std::uint64_t to_server = 0;
    std::uint64_t to_browser = 0;
    bool idle = false;  // ended by the idle limit
    std::string error;  // the failure that ended it, if one did
};

// Never throws for what the peers do: every way a tunnel ends is a result.
Tunnel_Result run_tunnel(const Tunnel& tunnel);

}  // namespace proxy
