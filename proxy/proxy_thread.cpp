#include "proxy/proxy_thread.hpp"

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "base/exception.hpp"
#include "base/streams.hpp"
#include "proxy/refusal.hpp"
#include "proxy/response_thread.hpp"

using base::Exception;
using base::message_of;
using base::type_name_of;
using base::window_log;

namespace proxy {

using sockets::Address;
using sockets::is_descriptor_shortage;
using sockets::is_transient_accept_error;
using sockets::Response_Socket;
using sockets::Server_Socket;

namespace {

// Never throws: the listener must outlive a failing log too.
void log_server_error(const std::exception& e) noexcept {
    try {
        const std::string_view type = type_name_of(e), message = message_of(e);
        window_log->printf("error in server thread (%.*s): %.*s\n", static_cast<int>(type.size()), type.data(),
                           static_cast<int>(message.size()), message.data());
    } catch (...) {
    }
}

void log_not_allowed(Address peer) {
    unsigned char b[4];
    std::memcpy(b, &peer, sizeof b);
    window_log->printf("---- connection from %d.%d.%d.%d refused: not in allowed_clients\n", b[0], b[1], b[2], b[3]);
}

}  // namespace

int Proxy_Thread::run() {
    try {
        Server_Socket server(port_);
        serve(server);
    } catch (const std::exception& e) {
        log_server_error(e);
    }
    // Handlers waiting for a connection that can no longer come end now.
    pool_->close();
    return 0;
}

void Proxy_Thread::serve(Server_Socket& server) {
    Refused_Connections refused;
    for (;;) {
        refused.wait_for_connection(server);
        std::unique_ptr<Response_Socket> connection;
        try {
            connection = server.accept();
        } catch (const Exception& e) {
            // A peer that gave up or a passing shortage must not end the
            // service for good; anything else means the socket is dead.
            const int error = server.last_error();
            if (!is_transient_accept_error(error)) throw;
            log_server_error(e);
            if (is_descriptor_shortage(error)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        } catch (const std::bad_alloc& e) {
            log_server_error(e);  // the connection was closed; serve the next one
            continue;
        }
        if (stop_requested.load()) return;

        try {
            const auto snapshot = options->get();
            if (!snapshot->allows_client(connection->peer())) {
                log_not_allowed(connection->peer());
                connection->close();
                continue;
            }
            Handover work{std::move(connection), snapshot};
            if (pool_->hand_over(work)) continue;
            connection = std::move(work.browser);
            auto handler = std::make_unique<Response_Thread>();
            handler->html_filter = html_filter;
            handler->options = snapshot;
            handler->pool = pool_;
            handler->browser = std::move(connection);
            try {
                handler->start_detached();
                handler.release();  // the handler's own thread owns it now
            } catch (...) {
                connection = std::move(handler->browser);
                throw;
            }
        } catch (const std::exception& e) {
            // No thread (or no memory) for this browser: tell it why and go on
            // serving the others.
            log_server_error(e);
            if (!connection) continue;
            try {
                refused.add(std::move(connection), proxy_error_answer(message_of(e)));
            } catch (...) {
                // Not even memory for the answer: the connection just closes.
            }
        }
    }
}

}  // namespace proxy
