#include "zib/proxy_settings.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kelyaml/yaml_error.hpp"
#include "kelyaml/yaml_reader.hpp"

namespace zib {

using kelyaml::Array_Access;
using kelyaml::Yaml_Error;
using kelyaml::Yaml_Event_Kind;
using kelyaml::Yaml_Reader;
using proxy::Client_Range;
using proxy::Option_Store;
using proxy::Proxy_Options;
using sockets::Port;

const std::shared_ptr<Option_Store> proxy_options = std::make_shared<Option_Store>();

namespace {

using Kind = Yaml_Event_Kind;

[[noreturn]] void bad_value(std::string_view key, std::string_view value, std::string_view wanted) {
    throw Yaml_Error("setting.yaml: " + std::string(key) + ": \"" + std::string(value) + "\" is not " +
                     std::string(wanted));
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// A decimal number in [low, high]; nothing but digits.
bool read_number(std::string_view text, std::uint64_t low, std::uint64_t high, std::uint64_t& number) {
    if (text.empty() || text.size() > 12) return false;
    number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return number >= low && number <= high;
}

std::uint64_t number_of(std::string_view key, std::string_view value, std::uint64_t low, std::uint64_t high) {
    std::uint64_t number;
    if (!read_number(trim(value), low, high, number))
        bad_value(key, value, "a number from " + std::to_string(low) + " to " + std::to_string(high));
    return number;
}

bool yes_or_no(std::string_view key, std::string_view value) {
    const std::string_view v = trim(value);
    for (std::string_view yes : {"yes", "true", "on"})
        if (v == yes) return true;
    for (std::string_view no : {"no", "false", "off"})
        if (v == no) return false;
    bad_value(key, value, "yes or no");
}

// "a.b.c.d" or "a.b.c.d/n".
Client_Range client_range(std::string_view key, std::string_view text) {
    Client_Range range;
    std::string_view address = text;
    if (const auto slash = text.find('/'); slash != std::string_view::npos) {
        std::uint64_t prefix;
        if (!read_number(text.substr(slash + 1), 0, 32, prefix)) bad_value(key, text, "an IPv4 address or prefix");
        range.prefix = static_cast<int>(prefix);
        address = text.substr(0, slash);
    }
    std::uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        const auto dot = address.find('.');
        if ((part < 3) == (dot == std::string_view::npos)) bad_value(key, text, "an IPv4 address or prefix");
        std::uint64_t byte;
        if (!read_number(address.substr(0, dot), 0, 255, byte)) bad_value(key, text, "an IPv4 address or prefix");
        value = value << 8 | static_cast<std::uint32_t>(byte);
        address.remove_prefix(dot == std::string_view::npos ? address.size() : dot + 1);
    }
    const std::uint32_t mask = range.prefix == 0    ? 0
                               : range.prefix >= 32 ? 0xFFFFFFFFu
                                                    : ~(0xFFFFFFFFu >> range.prefix);
    range.address = value & mask;
    return range;
}

// A list written as "-" items, or on one line separated by commas or spaces.
std::vector<std::string_view> list_of(Yaml_Reader& reader) {
    std::vector<std::string_view> items;
    auto add_line = [&](std::string_view line) {
        while (!line.empty()) {
            const auto cut = line.find_first_of(", \t");
            const std::string_view item = line.substr(0, cut);
            if (!item.empty()) items.push_back(item);
            line.remove_prefix(cut == std::string_view::npos ? line.size() : cut + 1);
        }
    };
    if (reader.event().kind == Kind::scalar) {
        add_line(trim(reader.value()));
    } else if (reader.event().kind == Kind::sequence_start) {
        std::vector<std::string_view> raw;
        reader.sequence(reader.key(), Array_Access::of(raw), [&](std::size_t) {
            if (reader.event().kind == Kind::scalar) add_line(trim(reader.value()));
        });
    }
    return items;
}

std::chrono::milliseconds seconds_of(std::string_view key, std::string_view value) {
    return std::chrono::seconds(number_of(key, value, 1, 24 * 3600));
}

}  // namespace

Proxy_Options read_proxy_settings(std::string_view text) {
    Proxy_Options options;
    Yaml_Reader reader("zib", text);
    reader.mapping([&] {
        const std::string_view key = reader.key();
        const bool scalar = reader.event().kind == Kind::scalar;
        const std::string_view value = reader.value();
        if (key == "tunnel_ports") {
            options.tunnel_ports.clear();
            for (std::string_view item : list_of(reader))
                options.tunnel_ports.push_back(static_cast<Port>(number_of(key, item, 1, 65535)));
        } else if (key == "allowed_clients") {
            options.allowed_clients.clear();
            for (std::string_view item : list_of(reader)) options.allowed_clients.push_back(client_range(key, item));
            // Listed but empty would lock everyone out: say so instead.
            if (options.allowed_clients.empty()) bad_value(key, "", "a list of IPv4 addresses or prefixes");
        } else if (!scalar) {
            return;
        } else if (key == "tunnels") {
            options.tunnels = yes_or_no(key, value);
        } else if (key == "html_limit_kib") {
            options.html_limit = static_cast<std::size_t>(number_of(key, value, 64, 256 * 1024)) * 1024;
        } else if (key == "request_head_seconds") {
            options.head_limit = seconds_of(key, value);
        } else if (key == "idle_seconds") {
            options.idle_limit = seconds_of(key, value);
        } else if (key == "tunnel_idle_seconds") {
            options.tunnel_idle_limit = seconds_of(key, value);
        }
    });
    return options;
}

void load_proxy_settings(std::string_view text) { proxy_options->set(read_proxy_settings(text)); }

}  // namespace zib
