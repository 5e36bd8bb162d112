#pragma once
// YAML nodes as typed values: metadata values, and input values read from YAML text.

#include <expected>
#include <string_view>

#include "composer/error.hpp"
#include "composer/types/input_value.hpp"
#include "composer/yaml/reader.hpp"

namespace zelk::composer::yaml {

/// The typed value of a node. Untagged plain scalars follow the typing rules, other untagged
/// scalars are strings; the core tags "!!null", "!!bool", "!!int", "!!float", "!!str" (and the
/// non-specific "!") force their type and fail on text that does not fit it; "!!seq" and
/// "!!map" are dropped; any other tag wraps the value as a tagged value.
std::expected<MetadataValue, YamlError> to_metadata_value(const Node& node);

/// Reads a text holding at most one document as a typed value; an empty stream is null.
std::expected<MetadataValue, YamlError> parse_metadata_value(std::string_view text);

/// A validation error with the failure's message and code, no diagnostics and no hints.
ValidationError validation_error(InputValueError error);

/// Reads a YAML text into an input value. A reader failure is a ConfigError with
/// ERR_CONFIG_PARSE and the reader's text as message; a value that the input-value model
/// cannot hold is a ValidationError carrying the conversion's message and code.
std::expected<InputValue, ComposeError> input_value_from_yaml_text(std::string_view text);

}  // namespace zelk::composer::yaml
