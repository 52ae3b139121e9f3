#pragma once
// Yaml_IO: how a caller describes the data it expects in a YAML document. The
// reader assigns what the document holds for each key it is offered; the
// writer writes each offered key with the target's current value.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace kelyaml {

// A caller's growable array, seen through its length only.
struct Array_Access {
    void* array = nullptr;
    std::size_t (*get_length)(void* array) = nullptr;
    // Resizes the array; new elements are default-initialised.
    void (*set_length)(void* array, std::size_t length) = nullptr;

    // Access to any container with size() and resize() (std::vector, ...).
    template <class Container>
    static Array_Access of(Container& container) {
        return {&container, [](void* a) -> std::size_t { return static_cast<Container*>(a)->size(); },
                [](void* a, std::size_t n) { static_cast<Container*>(a)->resize(n); }};
    }
};

// Called once per element of a sequence, with its index.
using Yaml_Element_Handler = std::function<void(std::size_t index)>;
// Called once per child of a mapping (reader) or once for the whole mapping (writer).
using Yaml_Entry_Handler = std::function<void()>;

class Yaml_IO {
public:
    virtual ~Yaml_IO() = default;

    virtual void field(std::string_view key, std::string_view& target) = 0;
    virtual void field(std::string_view key, char32_t& target) = 0;
    virtual void field(std::string_view key, std::int32_t& target) = 0;
    virtual void field(std::string_view key, std::uint32_t& target) = 0;
    virtual void field(std::string_view key, bool& target) = 0;
    virtual void field(std::string_view key, std::uint8_t& target) = 0;
    virtual void sequence(std::string_view key, const Array_Access& access, const Yaml_Element_Handler& handler) = 0;
    virtual void item(std::string_view& target) = 0;
    virtual void mapping(const Yaml_Entry_Handler& handler) = 0;
};

}  // namespace kelyaml
