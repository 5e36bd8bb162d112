#include "composer/types/input_value.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

#include <fmt/format.h>

namespace zelk::composer {

namespace {

constexpr auto kMaxInt64 = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

InputValueError shape_error(std::string message) {
    return InputValueError{std::move(message), DiagnosticCode::ErrValObjectShape};
}

InputValueError depth_error() {
    return shape_error(fmt::format("value nesting exceeds the maximum depth of {}", kMaxValueDepth));
}

// Integers compare by value whichever of the two integer kinds holds them.
template <typename A, typename B>
bool integers_equal(A a, B b) {
    return std::cmp_equal(a, b);
}

std::expected<void, InputValueError> validate_at(const InputValue& value, std::size_t depth) {
    if (const auto* number = value.get_if<double>(); number && !std::isfinite(*number)) {
        return std::unexpected(shape_error("floating-point values must be finite"));
    }
    const auto* array = value.get_if<InputValue::Array>();
    const auto* object = value.get_if<InputValue::Object>();
    if (!array && !object) {
        return {};
    }
    if (depth >= kMaxValueDepth) {
        return std::unexpected(depth_error());
    }
    if (array) {
        for (const InputValue& item : *array) {
            if (auto checked = validate_at(item, depth + 1); !checked) {
                return checked;
            }
        }
    } else {
        for (const auto& [key, item] : *object) {
            if (auto checked = validate_at(item, depth + 1); !checked) {
                return checked;
            }
        }
    }
    return {};
}

std::expected<InputValue, InputValueError> from_yaml_at(const MetadataValue& value, std::size_t depth) {
    if (depth > kMaxValueDepth) {
        return std::unexpected(depth_error());
    }
    struct Visitor {
        std::size_t depth;
        std::expected<InputValue, InputValueError> operator()(MetadataValue::Null) const {
            return InputValue();
        }
        std::expected<InputValue, InputValueError> operator()(bool v) const { return InputValue(v); }
        std::expected<InputValue, InputValueError> operator()(std::int64_t v) const { return InputValue(v); }
        std::expected<InputValue, InputValueError> operator()(std::uint64_t v) const { return InputValue(v); }
        std::expected<InputValue, InputValueError> operator()(double v) const {
            if (!std::isfinite(v)) {
                return std::unexpected(shape_error("expected a JSON-compatible number"));
            }
            return InputValue(v);
        }
        std::expected<InputValue, InputValueError> operator()(const std::string& v) const {
            return InputValue(v);
        }
        std::expected<InputValue, InputValueError> operator()(const MetadataValue::Sequence& items) const {
            InputValue::Array array;
            array.reserve(items.size());
            for (const MetadataValue& item : items) {
                auto converted = from_yaml_at(item, depth + 1);
                if (!converted) {
                    return converted;
                }
                array.push_back(std::move(*converted));
            }
            return InputValue(std::move(array));
        }
        std::expected<InputValue, InputValueError> operator()(const MetadataValue::Mapping& entries) const {
            InputValue::Object object;
            for (const auto& [key, item] : entries) {
                const auto* text = key.get_if<std::string>();
                if (!text) {
                    return std::unexpected(shape_error("expected object/map keys to be strings"));
                }
                auto converted = from_yaml_at(item, depth + 1);
                if (!converted) {
                    return converted;
                }
                object.insert_or_assign(*text, std::move(*converted));
            }
            return InputValue(std::move(object));
        }
        std::expected<InputValue, InputValueError> operator()(const MetadataValue::Tagged& tagged) const {
            if (!tagged.value) {
                return InputValue();
            }
            return from_yaml_at(*tagged.value, depth);
        }
    };
    return std::visit(Visitor{depth}, value.data);
}

std::expected<std::string, InputValueError> key_text(const MetadataValue& key) {
    if (const auto* text = key.get_if<std::string>()) {
        return *text;
    }
    if (const auto* flag = key.get_if<bool>()) {
        return std::string(*flag ? "true" : "false");
    }
    if (const auto* number = key.get_if<std::int64_t>()) {
        return fmt::format("{}", *number);
    }
    if (const auto* number = key.get_if<std::uint64_t>()) {
        return fmt::format("{}", *number);
    }
    if (const auto* number = key.get_if<double>(); number && std::isfinite(*number)) {
        return shortest_float_text(*number);
    }
    return std::unexpected(shape_error("metadata mapping keys must be strings, booleans or finite numbers"));
}

std::expected<InputValue, InputValueError> to_json_at(const MetadataValue& value, std::size_t depth) {
    if (depth > kMaxValueDepth) {
        return std::unexpected(depth_error());
    }
    struct Visitor {
        std::size_t depth;
        std::expected<InputValue, InputValueError> operator()(MetadataValue::Null) const {
            return InputValue();
        }
        std::expected<InputValue, InputValueError> operator()(bool v) const { return InputValue(v); }
        std::expected<InputValue, InputValueError> operator()(std::int64_t v) const { return InputValue(v); }
        std::expected<InputValue, InputValueError> operator()(std::uint64_t v) const { return InputValue(v); }
        std::expected<InputValue, InputValueError> operator()(double v) const {
            if (!std::isfinite(v)) {
                return InputValue();
            }
            return InputValue(v);
        }
        std::expected<InputValue, InputValueError> operator()(const std::string& v) const {
            return InputValue(v);
        }
        std::expected<InputValue, InputValueError> operator()(const MetadataValue::Sequence& items) const {
            InputValue::Array array;
            array.reserve(items.size());
            for (const MetadataValue& item : items) {
                auto converted = to_json_at(item, depth + 1);
                if (!converted) {
                    return converted;
                }
                array.push_back(std::move(*converted));
            }
            return InputValue(std::move(array));
        }
        std::expected<InputValue, InputValueError> operator()(const MetadataValue::Mapping& entries) const {
            InputValue::Object object;
            for (const auto& [key, item] : entries) {
                auto text = key_text(key);
                if (!text) {
                    return std::unexpected(std::move(text.error()));
                }
                auto converted = to_json_at(item, depth + 1);
                if (!converted) {
                    return converted;
                }
                object.insert_or_assign(std::move(*text), std::move(*converted));
            }
            return InputValue(std::move(object));
        }
        std::expected<InputValue, InputValueError> operator()(const MetadataValue::Tagged& tagged) const {
            InputValue inner;
            if (tagged.value) {
                auto converted = to_json_at(*tagged.value, depth + 1);
                if (!converted) {
                    return converted;
                }
                inner = std::move(*converted);
            }
            std::string key = tagged.tag.starts_with('!') ? tagged.tag : "!" + tagged.tag;
            InputValue::Object object;
            object.emplace(std::move(key), std::move(inner));
            return InputValue(std::move(object));
        }
    };
    return std::visit(Visitor{depth}, value.data);
}

}  // namespace

InputValue::InputValue(std::uint64_t value) {
    if (value <= kMaxInt64) {
        data = static_cast<std::int64_t>(value);
    } else {
        data = value;
    }
}

std::string_view InputValue::kind_name() const {
    static constexpr std::string_view kNames[] = {"null",  "boolean", "integer", "integer",
                                                  "float", "string",  "array",   "object"};
    return kNames[data.index()];
}

bool operator==(const InputValue& a, const InputValue& b) {
    if (const auto* ai = a.get_if<std::int64_t>()) {
        if (const auto* bu = b.get_if<std::uint64_t>()) {
            return integers_equal(*ai, *bu);
        }
    }
    if (const auto* au = a.get_if<std::uint64_t>()) {
        if (const auto* bi = b.get_if<std::int64_t>()) {
            return integers_equal(*au, *bi);
        }
    }
    return a.data == b.data;
}

std::expected<void, InputValueError> validate_input_value(const InputValue& value) {
    return validate_at(value, 0);
}

bool operator==(const MetadataValue::Tagged& a, const MetadataValue::Tagged& b) {
    if (a.tag != b.tag) {
        return false;
    }
    if (!a.value || !b.value) {
        return a.value == b.value;
    }
    return *a.value == *b.value;
}

bool operator==(const MetadataValue& a, const MetadataValue& b) {
    return a.data == b.data;
}

MetadataValue MetadataValue::from_input_value(const InputValue& value) {
    struct Visitor {
        MetadataValue operator()(InputValue::Null) const { return {}; }
        MetadataValue operator()(bool v) const { return {v}; }
        MetadataValue operator()(std::int64_t v) const { return {v}; }
        MetadataValue operator()(std::uint64_t v) const { return {v}; }
        MetadataValue operator()(double v) const { return {v}; }
        MetadataValue operator()(const std::string& v) const { return {v}; }
        MetadataValue operator()(const InputValue::Array& items) const {
            Sequence sequence;
            sequence.reserve(items.size());
            for (const InputValue& item : items) {
                sequence.push_back(from_input_value(item));
            }
            return {std::move(sequence)};
        }
        MetadataValue operator()(const InputValue::Object& entries) const {
            Mapping mapping;
            mapping.reserve(entries.size());
            for (const auto& [key, item] : entries) {
                mapping.emplace_back(MetadataValue{key}, from_input_value(item));
            }
            return {std::move(mapping)};
        }
    };
    return std::visit(Visitor{}, value.data);
}

std::expected<InputValue, InputValueError> MetadataValue::to_json_value() const {
    return to_json_at(*this, 0);
}

std::expected<InputValue, InputValueError> input_value_from_yaml(const MetadataValue& value) {
    auto converted = from_yaml_at(value, 0);
    if (!converted) {
        return converted;
    }
    // Checking the finished tree once is equivalent to checking every array and object as it
    // is built (the check never depends on the position) and stays linear.
    if (converted->get_if<InputValue::Array>() || converted->get_if<InputValue::Object>()) {
        if (auto checked = validate_input_value(*converted); !checked) {
            return std::unexpected(std::move(checked.error()));
        }
    }
    return converted;
}

std::string shortest_float_text(double value) {
    if (value == 0.0) {
        return std::signbit(value) ? "-0.0" : "0.0";
    }
    // Shortest round-trip digits and their exponent, then laid out like common JSON writers do.
    char buffer[64];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    std::string_view scientific(buffer, static_cast<std::size_t>(written.ptr - buffer));
    const std::size_t e_pos = scientific.find('e');
    std::string digits;
    for (char c : scientific.substr(0, e_pos)) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    const int exponent = std::atoi(std::string(scientific.substr(e_pos + 1)).c_str());
    const int length = static_cast<int>(digits.size());
    const int point = exponent + 1;  // digits[0..point) lie before the decimal point
    std::string text = std::signbit(value) ? "-" : "";
    if (point >= length && point <= 16) {
        text += digits;
        text.append(static_cast<std::size_t>(point - length), '0');
        text += ".0";
    } else if (point > 0 && point <= 16) {
        text += digits.substr(0, static_cast<std::size_t>(point));
        text += '.';
        text += digits.substr(static_cast<std::size_t>(point));
    } else if (point > -5 && point <= 0) {
        text += "0.";
        text.append(static_cast<std::size_t>(-point), '0');
        text += digits;
    } else {
        text += digits[0];
        if (length > 1) {
            text += '.';
            text += digits.substr(1);
        }
        text += fmt::format("e{}", exponent);
    }
    return text;
}

}  // namespace zelk::composer
