#include "proxy/proxy_thread.hpp"

#include <chrono>
#include <memory>
#include <thread>

#include "proxy/response_thread.hpp"
#include "zib/exception.hpp"
#include "zib/streams.hpp"

namespace {

void log_server_error(const std::exception& e) {
    const std::string_view type = type_name_of(e), message = message_of(e);
    window_log->printf("error in server thread (%.*s): %.*s\n", static_cast<int>(type.size()), type.data(),
                       static_cast<int>(message.size()), message.data());
}

}  // namespace

int Proxy_Thread::run() {
    try {
        Server_Socket server(port_);
        serve(server);
    } catch (const std::exception& e) {
        log_server_error(e);
    }
    return 0;
}

void Proxy_Thread::serve(Server_Socket& server) {
    for (;;) {
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
        }
        if (stop_requested.load()) return;

        auto handler = std::make_unique<Response_Thread>();
        handler->browser = std::move(connection);
        handler->html_filter = html_filter;
        try {
            handler->start_detached();
            handler.release();  // the handler's own thread owns it now
        } catch (const Exception& e) {
            // No thread for this browser: tell it why and go on serving the others.
            log_server_error(e);
            try {
                handler->browser->send(proxy_error_answer(e.message()));
            } catch (...) {
            }
            handler->browser->close();
        }
    }
}
