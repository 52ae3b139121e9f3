#pragma once
// Writes documents in the subset Yaml_Reader reads: an optional "--- !type"
// header, block collections indented one tab per level, keys and values byte
// for byte (nothing is quoted or checked), every line ending in CR LF.

#include <string>
#include <string_view>
#include <vector>

#include "kelyaml/yaml_event.hpp"
#include "kelyaml/yaml_io.hpp"

namespace kelyaml {

class Yaml_Writer : public Yaml_IO {
public:
    // Writes the header when `type` is not empty. Throws "YAML Writer Initialization Error".
    explicit Yaml_Writer(std::string_view type);
    Yaml_Writer(const Yaml_Writer&) = delete;
    Yaml_Writer& operator=(const Yaml_Writer&) = delete;
    ~Yaml_Writer() override;

    // Writes one event; throws "YAML Output Error" for an event that does not
    // fit the open collection (bytes already written stay). Inside a mapping,
    // entries and nested collections need a non-empty key; inside a sequence,
    // entries must have none.
    virtual void emit(const Yaml_Event& event);
    virtual void entry(std::string_view key, std::string_view value);
    virtual void begin_sequence(std::string_view key);
    virtual void begin_mapping(std::string_view key);
    virtual void end();
    // The document so far; valid until the next write or the writer's end.
    virtual std::string_view text() const;

    // Writing through the same description that reads a document: each call
    // writes the target's current value under its key.
    void field(std::string_view key, std::string_view& target) override;
    void field(std::string_view key, char32_t& target) override;
    void field(std::string_view key, std::int32_t& target) override;
    void field(std::string_view key, std::uint32_t& target) override;
    void field(std::string_view key, bool& target) override;
    void field(std::string_view key, std::uint8_t& target) override;
    // `key:` and one element per index below the array's length.
    void sequence(std::string_view key, const Array_Access& access, const Yaml_Element_Handler& handler) override;
    // A sequence item with the target's value.
    void item(std::string_view& target) override;
    // A keyless mapping (the root or a sequence element) whose entries the
    // handler writes in one call; inside a mapping it has no key to stand under
    // and fails with "YAML Output Error".
    void mapping(const Yaml_Entry_Handler& handler) override;

private:
    void write(std::string_view bytes);
    void indent();
    void push(Yaml_Event_Kind kind);

    std::string buffer_;
    std::vector<Yaml_Event_Kind> open_;  // kind of each open collection
};

}  // namespace kelyaml
