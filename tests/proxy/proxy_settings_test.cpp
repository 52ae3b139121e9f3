// The proxy's keys of setting.yaml: defaults, every key, the list forms, bad
// values, and that the rules read from the same text are unaffected.

#include "zib/proxy_settings.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "base/streams.hpp"
#include "capture_stream.hpp"
#include "kelyaml/yaml_error.hpp"
#include "zib/rule_set.hpp"

using zib::apply_rules;
using zib::load_settings_text;
using zib::proxy_options;
using zib::read_proxy_settings;

using base::error_log;
using base::window_log;

using kelyaml::Yaml_Error;
using proxy::Proxy_Options;
using sockets::Address;
using sockets::Port;

using namespace std::chrono_literals;

namespace {

std::string settings(std::string_view keys) {
    return "--- !zib\n" + std::string(keys) + "filter:\n  - uri: .*\n    search: moor\n    replace: MOOR\n";
}

std::string error_of(std::string_view text) {
    try {
        read_proxy_settings(text);
    } catch (const Yaml_Error& e) {
        return e.message();
    }
    return "(no error)";
}

}  // namespace

TEST(Proxy_Settings, WithoutKeysEverythingKeepsItsDefault) {
    const Proxy_Options o = read_proxy_settings(settings(""));
    const Proxy_Options d;
    EXPECT_EQ(o.head_limit, 30s);
    EXPECT_EQ(o.idle_limit, 300s);
    EXPECT_EQ(o.tunnel_idle_limit, 300s);
    EXPECT_EQ(o.html_limit, 8u << 20);
    EXPECT_TRUE(o.tunnels);
    EXPECT_EQ(o.tunnel_ports, std::vector<Port>{443});
    EXPECT_TRUE(o.allowed_clients.empty());
    EXPECT_TRUE(o.allows_client(0x0200000A));  // anyone
    EXPECT_EQ(d.tunnel_ports, o.tunnel_ports);
}

TEST(Proxy_Settings, EveryKeyAndBothListForms) {
    const Proxy_Options o =
        read_proxy_settings(settings("tunnels: no\n"
                                     "tunnel_ports: 443, 8443 9000\n"
                                     "allowed_clients:\n"
                                     "  - 127.0.0.1\n"
                                     "  - 192.168.1.77/24\n"
                                     "html_limit_kib: 4096\n"
                                     "request_head_seconds: 5\n"
                                     "idle_seconds: 60\n"
                                     "tunnel_idle_seconds: 900\n"));
    EXPECT_FALSE(o.tunnels);
    EXPECT_FALSE(o.allows_tunnel_to(443));  // tunnels off refuses every port
    EXPECT_EQ(o.tunnel_ports, (std::vector<Port>{443, 8443, 9000}));
    ASSERT_EQ(o.allowed_clients.size(), 2u);
    EXPECT_EQ(o.allowed_clients[1].address, 0xC0A80100u);  // host bits cleared
    EXPECT_EQ(o.allowed_clients[1].prefix, 24);
    EXPECT_EQ(o.html_limit, 4096u * 1024);
    EXPECT_EQ(o.head_limit, 5s);
    EXPECT_EQ(o.idle_limit, 60s);
    EXPECT_EQ(o.tunnel_idle_limit, 900s);

    struct Case {
        Address peer;  // network order, as accept gives it (bytes a.b.c.d in memory)
        bool allowed;
    };
    auto address = [](unsigned a, unsigned b, unsigned c, unsigned d) {
        const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                        static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
        Address value;
        std::memcpy(&value, bytes, 4);
        return value;
    };
    const Case cases[] = {
        {address(127, 0, 0, 1), true},     {address(127, 0, 0, 2), false},   {address(192, 168, 1, 0), true},
        {address(192, 168, 1, 255), true}, {address(192, 168, 2, 1), false}, {address(10, 0, 0, 1), false},
    };
    for (const auto& c : cases) EXPECT_EQ(o.allows_client(c.peer), c.allowed) << std::hex << c.peer;

    const Proxy_Options on = read_proxy_settings(settings("tunnels: yes\ntunnel_ports:\n  - 8443\n"));
    EXPECT_TRUE(on.allows_tunnel_to(8443));
    EXPECT_FALSE(on.allows_tunnel_to(443));
}

TEST(Proxy_Settings, BadValuesAreNamed) {
    struct Case {
        std::string keys, message;
    };
    const Case cases[] = {
        {"tunnels: maybe\n", "setting.yaml: tunnels: \"maybe\" is not yes or no"},
        {"tunnel_ports: 443, 0\n", "setting.yaml: tunnel_ports: \"0\" is not a number from 1 to 65535"},
        {"tunnel_ports: https\n", "setting.yaml: tunnel_ports: \"https\" is not a number from 1 to 65535"},
        {"allowed_clients: 10.0.0.256\n",
         "setting.yaml: allowed_clients: \"10.0.0.256\" is not an IPv4 address or prefix"},
        {"allowed_clients: 10.0.0/8\n", "setting.yaml: allowed_clients: \"10.0.0/8\" is not an IPv4 address or prefix"},
        {"allowed_clients: 10.0.0.0/33\n",
         "setting.yaml: allowed_clients: \"10.0.0.0/33\" is not an IPv4 address or prefix"},
        {"allowed_clients:\n", "setting.yaml: allowed_clients: \"\" is not a list of IPv4 addresses or prefixes"},
        {"html_limit_kib: 10\n", "setting.yaml: html_limit_kib: \"10\" is not a number from 64 to 262144"},
        {"idle_seconds: -1\n", "setting.yaml: idle_seconds: \"-1\" is not a number from 1 to 86400"},
        {"request_head_seconds: 0\n", "setting.yaml: request_head_seconds: \"0\" is not a number from 1 to 86400"},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(settings(c.keys)), c.message) << c.keys;
}

TEST(Proxy_Settings, LoadedWithTheRulesAndABadValueChangesNothing) {
    test::Capture_Stream log, errors;
    window_log = &log;
    error_log = &errors;
    load_settings_text(settings("tunnel_ports: 8443\nidle_seconds: 7\n"));
    EXPECT_EQ(proxy_options->get()->tunnel_ports, std::vector<Port>{8443});
    EXPECT_EQ(proxy_options->get()->idle_limit, 7s);
    EXPECT_EQ(apply_rules("http://x/", "moor"), "MOOR");  // the filter list keeps its meaning

    EXPECT_THROW(load_settings_text("--- !zib\nidle_seconds: soon\nfilter:\n  - uri: .*\n    search: x\n"), Yaml_Error);
    EXPECT_EQ(proxy_options->get()->idle_limit, 7s);
    EXPECT_EQ(apply_rules("http://x/", "moor"), "MOOR");

    // A text without the keys brings the defaults back.
    load_settings_text(settings(""));
    EXPECT_EQ(proxy_options->get()->idle_limit, 300s);
    window_log = nullptr;
    error_log = nullptr;
}
