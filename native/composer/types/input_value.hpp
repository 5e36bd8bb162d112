#pragma once
// The value model of template variables (the JSON-like input value) and of frontmatter
// metadata (any YAML value, tags included).

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "composer/diagnostics/schema.hpp"
#include "composer/types/names.hpp"

namespace zelk::composer {

/// Deepest nesting of arrays and objects (or YAML collections) that any conversion into the
/// value model follows; deeper input is refused with an error instead of exhausting the stack.
inline constexpr std::size_t kMaxValueDepth = 1000;

/// A JSON-like variable value: null, boolean, signed or unsigned 64-bit integer, finite
/// double, string, array, or object with keys in byte order.
///
/// Integers are kept canonical: a non-negative value that fits in int64 is always stored as
/// int64, so uint64 only holds values above INT64_MAX. Equality compares integers by value.
struct InputValue {
    using Null = std::monostate;
    using Array = std::vector<InputValue>;
    using Object = std::map<std::string, InputValue>;
    using Data = std::variant<Null, bool, std::int64_t, std::uint64_t, double, std::string, Array, Object>;

    Data data;

    /// Null.
    InputValue() = default;
    InputValue(std::nullptr_t) {}                                     // NOLINT(google-explicit-constructor)
    InputValue(bool value) : data(value) {}                           // NOLINT(google-explicit-constructor)
    InputValue(std::int64_t value) : data(value) {}                   // NOLINT(google-explicit-constructor)
    InputValue(int value) : data(std::int64_t{value}) {}              // NOLINT(google-explicit-constructor)
    InputValue(std::uint64_t value);                                  // NOLINT(google-explicit-constructor)
    InputValue(double value) : data(value) {}                         // NOLINT(google-explicit-constructor)
    InputValue(std::string value) : data(std::move(value)) {}         // NOLINT(google-explicit-constructor)
    InputValue(std::string_view value) : data(std::string(value)) {}  // NOLINT(google-explicit-constructor)
    InputValue(const char* value) : data(std::string(value)) {}       // NOLINT(google-explicit-constructor)
    InputValue(Array value) : data(std::move(value)) {}               // NOLINT(google-explicit-constructor)
    InputValue(Object value) : data(std::move(value)) {}              // NOLINT(google-explicit-constructor)

    bool is_null() const { return std::holds_alternative<Null>(data); }
    /// The value as T, or nullptr when it holds another kind.
    template <typename T>
    const T* get_if() const {
        return std::get_if<T>(&data);
    }

    /// "null", "boolean", "integer", "float", "string", "array" or "object".
    std::string_view kind_name() const;

    friend bool operator==(const InputValue& a, const InputValue& b);
};

/// Ordered map from variable name to value; every variable map of the system.
using VariableMap = std::map<VariableName, InputValue>;

/// A failure to represent a value in the input-value model.
struct InputValueError {
    std::string message;
    DiagnosticCode code = DiagnosticCode::ErrValObjectShape;

    /// The message.
    const std::string& display() const { return message; }
    bool operator==(const InputValueError&) const = default;
};

/// The validation hook applied to every value accepted from outside. Walks the value depth
/// first; it refuses only what the model itself forbids (a non-finite float, nesting deeper
/// than kMaxValueDepth), which no conversion of this library produces.
std::expected<void, InputValueError> validate_input_value(const InputValue& value);

struct MetadataEntry;

/// A frontmatter metadata value: any YAML value as the reader produces it. Mappings keep
/// document order and may have keys of any kind; a repeated key is kept as written (conversions
/// let the later entry win).
struct MetadataValue {
    using Null = std::monostate;
    using Sequence = std::vector<MetadataValue>;
    using Mapping = std::vector<MetadataEntry>;
    /// A tagged value; the tag is kept as the reader resolved it (for example "!custom").
    struct Tagged {
        std::string tag;
        std::shared_ptr<const MetadataValue> value;
        friend bool operator==(const Tagged& a, const Tagged& b);
    };
    using Data =
        std::variant<Null, bool, std::int64_t, std::uint64_t, double, std::string, Sequence, Mapping, Tagged>;

    Data data;

    bool is_null() const { return std::holds_alternative<Null>(data); }
    /// The value as T, or nullptr when it holds another kind.
    template <typename T>
    const T* get_if() const {
        return std::get_if<T>(&data);
    }

    /// The metadata value of an input value (objects become mappings with string keys).
    static MetadataValue from_input_value(const InputValue& value);

    /// The standard serialisation into the JSON-like model: scalars map to scalars (a
    /// non-finite float becomes null), sequences to arrays, mappings to objects, and a tagged
    /// value to a one-entry object keyed by the tag with its leading "!". Keys become texts:
    /// strings as they stand, booleans "true"/"false", integers in decimal, finite floats in
    /// shortest round-trip form; any other key fails the whole conversion.
    std::expected<InputValue, InputValueError> to_json_value() const;

    friend bool operator==(const MetadataValue& a, const MetadataValue& b);
};

/// One entry of a metadata mapping.
struct MetadataEntry {
    MetadataValue key;
    MetadataValue value;
    friend bool operator==(const MetadataEntry&, const MetadataEntry&) = default;
};

/// Ordered map from metadata key to value.
using MetadataMap = std::map<std::string, MetadataValue>;

/// Converts a YAML value into an input value: numbers must be finite, mapping keys must be
/// strings (a repeated key: the later entry wins), tags are dropped, and the result of every
/// array or object passes `validate_input_value`. Errors carry ERR_VAL_OBJECT_SHAPE.
std::expected<InputValue, InputValueError> input_value_from_yaml(const MetadataValue& value);

/// The shortest decimal text that reads back as `value` (finite), written as "1.0", "0.5",
/// "1e20" or "1.5e-7".
std::string shortest_float_text(double value);

}  // namespace zelk::composer
