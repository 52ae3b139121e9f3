#pragma once
// One step of a YAML document as the reader delivers it and the writer takes it.

#include <cstdint>
#include <string_view>

namespace kelyaml {

enum class Yaml_Event_Kind : std::int32_t {
    none = 0,            // never delivered
    document_end = 1,    // end of the text, after every open collection has closed
    mapping_start = 2,   // the root, a block of entries, or an item written `- key: value`
    sequence_start = 3,  // the root, or a block of "-" lines
    collection_end = 4,  // end of the innermost open collection
    scalar = 5,          // `key: value`, or a sequence item with its value
    comment = 6,         // value = the line after its "#"
};

// Key and value are views into the document text (or, for the writer, into the caller's text).
struct Yaml_Event {
    Yaml_Event_Kind kind = Yaml_Event_Kind::none;
    std::string_view key;
    std::string_view value;
};

}  // namespace kelyaml
