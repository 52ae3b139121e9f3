#pragma once
// Test helper: a document's events as short strings, for comparing whole sequences.
//   {key=value  mapping_start     [key  sequence_start     }  collection_end
//   key=value   scalar            #text comment             $  document_end

#include <string>
#include <string_view>

#include "kelyaml/yaml_event.hpp"
#include "kelyaml/yaml_reader.hpp"

std::string describe(const kelyaml::Yaml_Event& event);

// Events from construction up to the first document_end, joined by "|".
// Stops with "!<message>" when the reader throws.
std::string read_events(std::string_view text, std::string_view type = "");
