#include "composer/renderer/values.hpp"

#include <fmt/format.h>

#include <cstdint>
#include <limits>
#include <variant>

#include "composer/renderer.hpp"

namespace zelk::composer {
namespace {

using jinja::ErrorKind;
using jinja::Result;
using jinja::Value;

// Depth-checked so that a hand-built value from a C++ caller cannot exhaust the stack; values
// accepted from outside are already bounded by the same limit.
Result<Value> convert(const InputValue& input, std::size_t depth) {
    if (depth > kMaxValueDepth) {
        return jinja::fail(ErrorKind::LimitExceeded,
                           fmt::format("context values are nested deeper than {} levels", kMaxValueDepth));
    }
    struct Visitor {
        std::size_t depth;
        Result<Value> operator()(InputValue::Null) const { return Value::none(); }
        Result<Value> operator()(bool b) const { return Value::from_bool(b); }
        Result<Value> operator()(std::int64_t i) const { return Value::from_int(i); }
        Result<Value> operator()(std::uint64_t u) const {
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return Value::from_int(static_cast<std::int64_t>(u));
            }
            // Rounding to a float would silently print a different number.
            return jinja::fail(ErrorKind::InvalidOperation,
                               fmt::format("integer {} is too large for templates (the limit is {})", u,
                                           std::numeric_limits<std::int64_t>::max()));
        }
        Result<Value> operator()(double f) const { return Value::from_float(f); }
        Result<Value> operator()(const std::string& s) const { return Value::from_string(s); }
        Result<Value> operator()(const InputValue::Array& items) const {
            std::vector<Value> out;
            out.reserve(items.size());
            for (const InputValue& item : items) {
                auto value = convert(item, depth + 1);
                if (!value) {
                    return value;
                }
                out.push_back(std::move(*value));
            }
            return Value::seq(std::move(out));
        }
        Result<Value> operator()(const InputValue::Object& entries) const {
            jinja::ValueMap out;
            out.reserve(entries.size());
            for (const auto& [key, item] : entries) {
                auto value = convert(item, depth + 1);
                if (!value) {
                    return value;
                }
                out.insert_or_assign(Value::from_string(key), std::move(*value));
            }
            return Value::map(std::move(out));
        }
    };
    return std::visit(Visitor{depth}, input.data);
}

// Shared by both map flavours: `key_text` turns a map key into its variable name text.
template <typename Map, typename KeyText>
Result<Value> map_context(const Map& variables, KeyText key_text) {
    jinja::ValueMap out;
    out.reserve(variables.size());
    for (const auto& [key, input] : variables) {
        auto value = convert(input, 1);
        if (!value) {
            return value;
        }
        out.insert_or_assign(Value::from_string(std::string(key_text(key))), std::move(*value));
    }
    return Value::map(std::move(out));
}

}  // namespace

Result<Value> to_engine_value(const InputValue& value) {
    return convert(value, 0);
}

namespace renderer_detail {

Result<Value> engine_context(const VariableMap& variables) {
    return map_context(variables,
                       [](const VariableName& name) -> const std::string& { return name.as_str(); });
}

Result<Value> engine_context(const std::map<std::string, InputValue>& variables) {
    return map_context(variables, [](const std::string& key) -> const std::string& { return key; });
}

Result<Value> engine_context(const InputValue& context) {
    if (context.is_null()) {
        return Value::map({});
    }
    if (const auto* entries = context.get_if<InputValue::Object>()) {
        return engine_context(*entries);
    }
    return jinja::fail(ErrorKind::InvalidOperation,
                       fmt::format("template context must be an object, not {}", context.kind_name()));
}

}  // namespace renderer_detail
}  // namespace zelk::composer
