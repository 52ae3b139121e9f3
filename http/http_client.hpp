#pragma once
// One-shot HTTP/1.1 GET of a URL over a fresh connection; the answer comes
// back raw: status line, headers and body, undecoded.

#include <memory>
#include <string>
#include <string_view>

#include "socket/socket.hpp"

namespace http {

class HTTP_Client {
public:
    virtual ~HTTP_Client() = default;

    // Closes any previous connection, connects, sends the request and reads
    // the whole answer (the request asks the server to close when done).
    // The connection stays open until `close` or the next `get`.
    virtual std::string get(std::string_view url);
    virtual void close();

private:
    std::unique_ptr<sockets::Client_Socket> connection_;
};

}  // namespace http
