#pragma once
// Template contexts built from the input-value model.

#include <map>
#include <string>

#include "composer/types/input_value.hpp"
#include "jinja/jinja.hpp"

namespace zelk::composer::renderer_detail {

/// The engine map of a variable map, in name order.
jinja::Result<jinja::Value> engine_context(const VariableMap& variables);
/// The engine map of a text-keyed map (keys need not be variable names), in key order.
jinja::Result<jinja::Value> engine_context(const std::map<std::string, InputValue>& variables);
/// An object gives its entries, null an empty context; any other value is refused, since
/// variables can only be looked up in a map.
jinja::Result<jinja::Value> engine_context(const InputValue& context);

}  // namespace zelk::composer::renderer_detail
