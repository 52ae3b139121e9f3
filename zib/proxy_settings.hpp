#pragma once
// The proxy's keys of setting.yaml, beside "filter" and all optional:
//
//   tunnels: yes                 # CONNECT opens HTTPS tunnels (no: refused)
//   tunnel_ports: 443, 8443      # ports a tunnel may go to (a list, or "-" items)
//   allowed_clients:             # who may use the proxy (missing: everyone)
//     - 127.0.0.1
//     - 192.168.1.0/24
//   html_limit_kib: 8192         # HTML collected for the rules; longer passes unfiltered
//   request_head_seconds: 30     # a browser's whole request head must arrive within this
//   idle_seconds: 300            # an origin or browser moving no byte this long ends the exchange
//   tunnel_idle_seconds: 300     # a tunnel moving no byte this long is closed
//
// A key that is missing keeps its default. A value that cannot be read
// throws Yaml_Error naming the key and the value, and nothing changes.

#include <memory>
#include <string_view>

#include "proxy/proxy_options.hpp"

namespace zib {

// The options the listener reads (main hands this store to it).
extern const std::shared_ptr<proxy::Option_Store> proxy_options;

// The options a settings text gives.
proxy::Proxy_Options read_proxy_settings(std::string_view text);
// Reads them and puts them in place.
void load_proxy_settings(std::string_view text);

}  // namespace zib
