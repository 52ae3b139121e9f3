// The proxy's keys of setting.yaml: defaults, every key, the list forms, bad
// values, and that the rules read from the same text are unaffected.

#include "zib/proxy_settings.hpp"

#include <gtest/gtest.h>

#include "base/streams.hpp"
#include "capture_stream.hpp"
#include "kelyaml/yaml_error.hpp"
#include "zib/rule_set.hpp"

using zib::proxy_options;
using zib::read_proxy_settings;
using namespace std::chrono_literals;

namespace {

std::string settings(std::string_view keys) {
    return "--- !zib\n" + std::string(keys) + "filter:\n  - uri: .*\n    search: moor\n    replace: MOOR\n";
}

// An address in network order, as accept gives it (bytes a.b.c.d in memory on this little-endian machine).
constexpr sockets::Address address(unsigned a, unsigned b, unsigned c, unsigned d) {
    return a | b << 8 | c << 16 | d << 24;
}

}  // namespace

TEST(Proxy_Settings, DefaultsEveryKeyAndBothListForms) {
    const proxy::Proxy_Options d = read_proxy_settings(settings(""));
    EXPECT_TRUE(d.allows_tunnel_to(443));
    EXPECT_FALSE(d.allows_tunnel_to(8443));
    EXPECT_TRUE(d.allows_client(address(10, 0, 0, 2)));  // anyone
    const proxy::Proxy_Options o = read_proxy_settings(
        settings("tunnels: no\ntunnel_ports: 443, 8443 9000\nallowed_clients:\n  - 127.0.0.1\n  - 192.168.1.77/24\n"
                 "html_limit_kib: 4096\nrequest_head_seconds: 5\nidle_seconds: 60\ntunnel_idle_seconds: 900\n"));
    EXPECT_FALSE(o.allows_tunnel_to(443));  // tunnels off refuses every port
    EXPECT_EQ(o.tunnel_ports, (std::vector<sockets::Port>{443, 8443, 9000}));
    EXPECT_EQ(o.html_limit, 4096u * 1024);
    EXPECT_EQ(o.head_limit, 5s);
    EXPECT_EQ(o.idle_limit, 60s);
    EXPECT_EQ(o.tunnel_idle_limit, 900s);
    for (auto [peer, allowed] : {std::pair{address(127, 0, 0, 1), true},
                                 {address(127, 0, 0, 2), false},
                                 {address(192, 168, 1, 0), true},
                                 {address(192, 168, 1, 255), true},
                                 {address(192, 168, 2, 1), false},
                                 {address(10, 0, 0, 1), false}})
        EXPECT_EQ(o.allows_client(peer), allowed) << std::hex << peer;
}

TEST(Proxy_Settings, BadValuesAreNamed) {
    const std::pair<std::string, std::string> cases[] = {
        {"tunnels: maybe\n", "tunnels: \"maybe\" is not yes or no"},
        {"tunnel_ports: 443, 0\n", "tunnel_ports: \"0\" is not a number from 1 to 65535"},
        {"tunnel_ports: https\n", "tunnel_ports: \"https\" is not a number from 1 to 65535"},
        {"allowed_clients: 10.0.0.256\n", "allowed_clients: \"10.0.0.256\" is not an IPv4 address or prefix"},
        {"allowed_clients: 10.0.0/8\n", "allowed_clients: \"10.0.0/8\" is not an IPv4 address or prefix"},
        {"allowed_clients: 10.0.0.0/33\n", "allowed_clients: \"10.0.0.0/33\" is not an IPv4 address or prefix"},
        {"allowed_clients:\n", "allowed_clients: \"\" is not a list of IPv4 addresses or prefixes"},
        {"html_limit_kib: 10\n", "html_limit_kib: \"10\" is not a number from 64 to 262144"},
        {"request_head_seconds: 0\n", "request_head_seconds: \"0\" is not a number from 1 to 86400"},
    };
    for (const auto& [keys, message] : cases) {
        try {
            read_proxy_settings(settings(keys));
            ADD_FAILURE() << "accepted: " << keys;
        } catch (const kelyaml::Yaml_Error& e) {
            EXPECT_EQ(e.message(), "setting.yaml: " + message);
        }
    }
}

TEST(Proxy_Settings, LoadedWithTheRulesAndABadValueChangesNothing) {
    test::Capture_Stream log;
    base::window_log = base::error_log = &log;
    // Also the list form in lines and tunnels switched on.
    zib::load_settings_text(settings("tunnels: yes\ntunnel_ports:\n  - 8443\nidle_seconds: 7\n"));
    EXPECT_EQ(proxy_options->get()->tunnel_ports, std::vector<sockets::Port>{8443});
    EXPECT_TRUE(proxy_options->get()->allows_tunnel_to(8443));
    EXPECT_EQ(proxy_options->get()->idle_limit, 7s);
    EXPECT_THROW(zib::load_settings_text("--- !zib\nidle_seconds: soon\nfilter:\n  - uri: .*\n    search: x\n"),
                 kelyaml::Yaml_Error);
    EXPECT_EQ(proxy_options->get()->idle_limit, 7s);
    EXPECT_EQ(zib::apply_rules("http://x/", "moor"), "MOOR");  // the filter list keeps its meaning
    zib::load_settings_text(settings(""));                     // a text without the keys brings the defaults back
    EXPECT_EQ(proxy_options->get()->idle_limit, 300s);
    base::window_log = base::error_log = nullptr;
}
