// Conversion from JSON documents to engine values (the driver's context, embedders' input).
#pragma once

#include <nlohmann/json.hpp>

#include "jinja/jinja.hpp"

namespace zelk::jinja {

// JSON null, booleans, numbers, strings, arrays and objects (in document order) as values.
// Integers beyond 64 bits become floats, as JSON readers usually do.
Value value_from_json(const nlohmann::ordered_json& json);

}  // namespace zelk::jinja
