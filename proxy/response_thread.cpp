#include "proxy/response_thread.hpp"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "base/exception.hpp"
#include "base/streams.hpp"
#include "proxy/refusal.hpp"
#include "proxy/request.hpp"
#include "proxy/response_relay.hpp"
#include "proxy/tunnel.hpp"
#include "win32/memory.hpp"

using base::error_log;
using base::Exception;
using base::message_of;
using base::type_name_of;
using base::window_log;

namespace proxy {

using sockets::Address;
using sockets::Client_Socket;
using sockets::resolve;
using sockets::Socket_Timeout;

int active_connections = 0;
std::mutex connection_lock;

namespace {

constexpr std::size_t body_piece = 1024;

int length_of(std::string_view text) { return static_cast<int>(text.size()); }

// "30 s", or "0.4 s" for the short limits of tests.
std::string limit_text(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
    return text;
}

// Why a connection ended without a complete exchange. It is answered only
// while the browser has received nothing yet: after that the answer would
// land in the middle of a page.
struct Failure {
    std::string message;
    std::string type;
};

}  // namespace

std::string proxy_error_answer(std::string_view message) {
    std::string answer = "HTTP/1.1 500 Proxy Error\r\nConnection: close\r\n\r\n\xEF\xBB\xBF";
    answer.append(message);
    return answer;
}

int Response_Thread::run() {
    // One buffer for every connection of the thread; without memory for it,
    // a small one on the stack still serves.
    std::unique_ptr<char[]> storage(new (std::nothrow) char[relay_buffer_size]);
    char small[4096];
    const std::span<char> buffer = storage ? std::span<char>(storage.get(), relay_buffer_size) : std::span<char>(small);
    std::shared_ptr<Handler_Pool::Place> place;
    for (;;) {
        serve_connection(buffer);
        browser.reset();
        if (!pool) return 0;
        if (!place) {
            try {
                place = std::make_shared<Handler_Pool::Place>();
            } catch (...) {
                return 0;  // no memory to wait in: the thread just ends, as after its time
            }
        }
        Handover next;
        if (!pool->next(next, place)) return 0;
        browser = std::move(next.browser);
        options = std::move(next.options);
    }
}

void Response_Thread::serve_connection(std::span<char> buffer) {
    const int id = this->id();
    {
        std::lock_guard lock(connection_lock);
        ++active_connections;
        window_log->printf("---- #%d start (%d)\n", id, active_connections);
    }
    Failure failure;
    bool failed = false;
    try {
        serve(buffer);
    } catch (const Socket_Timeout& e) {
        failed = true;
        failure = {e.message(), e.type_name()};
    } catch (const std::exception& e) {
        failed = true;
        try {
            failure = {std::string(message_of(e)), std::string(type_name_of(e))};
        } catch (...) {
            failure = {};  // no memory left even for the message
        }
    }
    if (failed) {
        try {
            error_log->printf("error in response thread #%d %.*s (%.*s)\r\n", id, length_of(failure.message),
                              failure.message.data(), length_of(failure.type), failure.type.data());
        } catch (...) {
            // The error log itself failed: the browser still gets its answer.
        }
        // Once part of the answer has gone out, an error page after it would
        // only corrupt it: the browser learns of the failure by the close.
        if (browser->bytes_sent() > 0) {
            browser->close();
        } else {
            std::string answer;
            try {
                answer = proxy_error_answer(failure.message);
            } catch (...) {
            }
            answer_and_close(*browser, answer, buffer);
        }
    } else {
        close_after_exchange(*browser, buffer);
    }
    {
        std::lock_guard lock(connection_lock);
        --active_connections;
        window_log->printf("---- #%d end (%d) \n", id, active_connections);
        if (active_connections == 0) win32::release_free_memory();
    }
}

void Response_Thread::serve(std::span<char> buffer) {
    const int id = this->id();
    std::string request;
    try {
        request = read_request_head(*browser, buffer, options->head_limit);
    } catch (const Socket_Timeout&) {
        // Browsers open connections ahead of need and may never use them: a
        // log line, not an error.
        window_log->printf("---- #%d no request within %s: closed\n", id, limit_text(options->head_limit).c_str());
        browser->close();
        return;
    }
    window_log->printf("---- #%d from browser\n%.*s\n", id, length_of(request), request.data());
    browser->set_receive_timeout(options->idle_limit);
    browser->set_send_timeout(options->idle_limit);
    if (is_connect(request)) return serve_tunnel(request, buffer);

    const Upstream_Request upstream = rewrite_request(request);
    const Address address = resolve(upstream.url.host);

    std::string body(upstream.body);
    while (body.size() < upstream.content_length) {
        const std::size_t n = browser->receive(buffer);
        if (n == 0)
            throw Exception("request body incomplete: the browser closed after " + std::to_string(body.size()) +
                            " of " + std::to_string(upstream.content_length) + " bytes");
        body.append(buffer.data(), std::min<std::size_t>(n, upstream.content_length - body.size()));
    }

    if (body.empty())
        window_log->printf("---- #%d to server\n%.*s\n", id, length_of(upstream.header), upstream.header.data());
    else
        window_log->printf("---- #%d to server\n%.*s\n---- #%d to server %d byte.\n", id, length_of(upstream.header),
                           upstream.header.data(), id, length_of(body));

    Client_Socket server(address, upstream.url.port);
    try {
        server.set_receive_timeout(options->idle_limit);
        server.set_send_timeout(options->idle_limit);
        server.send(upstream.header);
        for (std::size_t at = 0; at < body.size(); at += body_piece)
            server.send(std::string_view(body).substr(at, body_piece));
        relay_response(Relay{server, *browser, upstream.target, upstream.method == "HEAD ", html_filter, id, buffer,
                             options->html_limit});
    } catch (const Socket_Timeout& e) {
        const std::string limit = limit_text(options->idle_limit);
        window_log->printf("---- #%d nothing moved for %s: %s\n", id, limit.c_str(), e.what());
        window_log->printf("---- #%d close\n", id);
        server.close();
        throw Socket_Timeout("no byte moved for " + limit + " (" + e.message() + ")");
    } catch (...) {
        window_log->printf("---- #%d close\n", id);
        server.close();
        throw;
    }
    window_log->printf("---- #%d close\n", id);
    server.close();
}

void Response_Thread::serve_tunnel(std::string_view request, std::span<char> buffer) {
    const int id = this->id();
    const Tunnel_Request tunnel = parse_connect(request);
    // Not a relay to any service: only the ports the settings allow.
    if (!options->allows_tunnel_to(tunnel.port))
        throw Exception("未対応リクエスト: " + std::string(tunnel.request_line));
    const Address address = resolve(tunnel.host);
    window_log->printf("---- #%d tunnel to %.*s:%d\n", id, length_of(tunnel.host), tunnel.host.data(),
                       static_cast<int>(tunnel.port));

    Client_Socket server(address, tunnel.port);
    Tunnel_Result result;
    try {
        browser->send("HTTP/1.1 200 Connection established\r\n\r\n");
        server.send(tunnel.early_bytes);
        result = run_tunnel(Tunnel{*browser, server, buffer, options->tunnel_idle_limit});
    } catch (...) {
        window_log->printf("---- #%d close\n", id);
        server.close();
        throw;
    }
    if (result.idle)
        window_log->printf("---- #%d tunnel idle for %s\n", id, limit_text(options->tunnel_idle_limit).c_str());
    else if (!result.error.empty())
        window_log->printf("---- #%d tunnel ended: %s\n", id, result.error.c_str());
    window_log->printf("---- #%d tunnel closed: %llu byte to server, %llu byte to browser\n", id,
                       static_cast<unsigned long long>(result.to_server + tunnel.early_bytes.size()),
                       static_cast<unsigned long long>(result.to_browser));
    window_log->printf("---- #%d close\n", id);
    server.close();
}

}  // namespace proxy
