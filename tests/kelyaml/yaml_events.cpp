#include "yaml_events.hpp"

#include "kelyaml/yaml_error.hpp"

using kelyaml::Yaml_Error;
using kelyaml::Yaml_Event;
using kelyaml::Yaml_Event_Kind;
using kelyaml::Yaml_Reader;

std::string describe(const Yaml_Event& e) {
    const std::string key(e.key), value(e.value);
    switch (e.kind) {
        case Yaml_Event_Kind::mapping_start: return "{" + key + (value.empty() ? "" : "=" + value);
        case Yaml_Event_Kind::sequence_start: return "[" + key;
        case Yaml_Event_Kind::collection_end: return "}";
        case Yaml_Event_Kind::scalar: return key + "=" + value;
        case Yaml_Event_Kind::comment: return "#" + value;
        case Yaml_Event_Kind::document_end: return "$";
        case Yaml_Event_Kind::none: break;
    }
    return "?";
}

std::string read_events(std::string_view text, std::string_view type) {
    std::string out;
    try {
        Yaml_Reader reader(type, text);
        for (int guard = 0; guard < 1000000; ++guard) {
            out += describe(reader.event());
            if (reader.event().kind == Yaml_Event_Kind::document_end) return out;
            out += "|";
            reader.next();
        }
        return out + "<no end>";
    } catch (const Yaml_Error& e) {
        return out + "!" + e.message();
    }
}
