#include "http/http_client.hpp"

#include "http/text.hpp"

namespace http {

using sockets::Address;
using sockets::Client_Socket;
using sockets::resolve;
using sockets::Socket;

std::string HTTP_Client::get(std::string_view url) {
    close();
    const Url_Parts parts = split_url(url);
    const Address address = resolve(parts.host);
    connection_ = std::make_unique<Client_Socket>(address, parts.port);

    std::string request;
    request.append("GET ").append(parts.path).append(" HTTP/1.1\n");
    request.append("User-Agent: zib\n");
    request.append("Host: ").append(parts.host).append("\n");
    request.append("Connection: close\n\n");
    connection_->send(request);

    // Read to the end of the stream: a short read only means the rest is
    // still on its way, and the server closes after its answer.
    std::string answer;
    char buffer[Socket::chunk_size];
    while (std::size_t n = connection_->receive(buffer)) answer.append(buffer, n);
    return answer;
}

void HTTP_Client::close() {
    if (!connection_) return;
    connection_->close();
    connection_.reset();
}

}  // namespace http
