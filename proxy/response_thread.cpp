#include "proxy/response_thread.hpp"

#include <string>

#include "proxy/request.hpp"
#include "proxy/response_relay.hpp"
#include "win32/memory.hpp"
#include "zib/exception.hpp"
#include "zib/streams.hpp"

int active_connections = 0;
std::mutex connection_lock;

namespace {

constexpr std::size_t body_piece = 1024;

int length_of(std::string_view text) { return static_cast<int>(text.size()); }

}  // namespace

std::string proxy_error_answer(std::string_view message) {
    std::string answer = "HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBF";
    answer.append(message);
    return answer;
}

int Response_Thread::run() {
    const int id = this->id();
    {
        std::lock_guard lock(connection_lock);
        ++active_connections;
        window_log->printf("---- #%d start (%d)\n", id, active_connections);
    }
    char buffer[Socket::chunk_size] = {};
    try {
        serve(buffer);
    } catch (const std::exception& e) {
        const std::string_view message = message_of(e), type = type_name_of(e);
        try {
            error_log->printf("error in response thread #%d %.*s (%.*s)\r\n", id, length_of(message), message.data(),
                              length_of(type), type.data());
        } catch (...) {
            // The error log itself failed: the browser still gets its answer.
        }
        try {
            browser->send(proxy_error_answer(message));
        } catch (...) {
            // The browser has gone: nothing more to tell it.
        }
    }
    browser->close();
    {
        std::lock_guard lock(connection_lock);
        --active_connections;
        window_log->printf("---- #%d end (%d) \n", id, active_connections);
        if (active_connections == 0) win32::release_free_memory();
    }
    return 0;
}

void Response_Thread::serve(char (&buffer)[Socket::chunk_size]) {
    const int id = this->id();
    const std::string request = read_request_head(*browser, buffer);
    window_log->printf("---- #%d from browser\n%.*s\n", id, length_of(request), request.data());

    const Upstream_Request upstream = rewrite_request(request);
    const Address address = resolve(upstream.url.host);

    std::string body(upstream.body);
    while (body.size() < upstream.content_length) {
        const std::size_t n = browser->receive(buffer);
        if (n == 0)
            throw Exception("request body incomplete: the browser closed after " + std::to_string(body.size()) +
                            " of " + std::to_string(upstream.content_length) + " bytes");
        body.append(buffer, std::min<std::size_t>(n, upstream.content_length - body.size()));
    }

    if (body.empty())
        window_log->printf("---- #%d to server\n%.*s\n", id, length_of(upstream.header), upstream.header.data());
    else
        window_log->printf("---- #%d to server\n%.*s\n---- #%d to server %d byte.\n", id, length_of(upstream.header),
                           upstream.header.data(), id, length_of(body));

    Client_Socket server(address, upstream.url.port);
    try {
        server.send(upstream.header);
        for (std::size_t at = 0; at < body.size(); at += body_piece)
            server.send(std::string_view(body).substr(at, body_piece));
        relay_response(Relay{server, *browser, upstream.target, upstream.method == "HEAD ", html_filter, id, buffer});
    } catch (...) {
        window_log->printf("---- #%d close\n", id);
        server.close();
        throw;
    }
    window_log->printf("---- #%d close\n", id);
    server.close();
}
