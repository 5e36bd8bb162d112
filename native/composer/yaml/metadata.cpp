#include "composer/yaml/metadata.hpp"

#include <memory>
#include <string>

#include <fmt/format.h>

#include "composer/yaml/scalar.hpp"

namespace zelk::composer::yaml {

namespace {

constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";

MetadataValue from_scalar(ScalarValue value) {
    return std::visit([](auto&& v) { return MetadataValue{std::forward<decltype(v)>(v)}; }, std::move(value));
}

YamlError tag_error(const Node& node, std::string_view type) {
    return YamlError{fmt::format("invalid value `{}` for a scalar tagged !!{}", node.text, type), node.mark};
}

// A scalar typed as if it carried no tag.
std::expected<MetadataValue, YamlError> untagged_scalar(const Node& node) {
    if (node.style != ScalarStyle::Plain) {
        return MetadataValue{node.text};
    }
    auto typed = type_plain_scalar(node.text);
    if (!typed) {
        return std::unexpected(YamlError{std::move(typed.error()), node.mark});
    }
    return from_scalar(std::move(*typed));
}

// A scalar with a core tag; nullopt when the tag is not one of the scalar core tags.
std::optional<std::expected<MetadataValue, YamlError>> core_tagged_scalar(const Node& node,
                                                                          std::string_view type) {
    using Result = std::expected<MetadataValue, YamlError>;
    if (type == "str") {
        return Result(MetadataValue{node.text});
    }
    if (type == "null") {
        return is_null_text(node.text) ? Result(MetadataValue{})
                                       : Result(std::unexpected(tag_error(node, type)));
    }
    if (type == "bool") {
        const auto flag = bool_from_text(node.text);
        return flag ? Result(MetadataValue{*flag}) : Result(std::unexpected(tag_error(node, type)));
    }
    if (type == "int" || type == "float") {
        auto integer = integer_from_text(node.text);
        if (!integer) {
            return Result(std::unexpected(YamlError{std::move(integer.error()), node.mark}));
        }
        if (const auto* n = std::get_if<std::int64_t>(&*integer)) {
            return Result(type == "int" ? MetadataValue{*n} : MetadataValue{static_cast<double>(*n)});
        }
        if (const auto* n = std::get_if<std::uint64_t>(&*integer)) {
            return Result(type == "int" ? MetadataValue{*n} : MetadataValue{static_cast<double>(*n)});
        }
        if (type == "float") {
            if (const auto number = float_from_text(node.text)) {
                return Result(MetadataValue{*number});
            }
        }
        return Result(std::unexpected(tag_error(node, type)));
    }
    return std::nullopt;
}

std::expected<MetadataValue, YamlError> untagged(const Node& node) {
    switch (node.kind) {
        case Node::Kind::Scalar:
            return untagged_scalar(node);
        case Node::Kind::Sequence: {
            MetadataValue::Sequence sequence;
            sequence.reserve(node.items.size());
            for (const Node& item : node.items) {
                auto value = to_metadata_value(item);
                if (!value) {
                    return value;
                }
                sequence.push_back(std::move(*value));
            }
            return MetadataValue{std::move(sequence)};
        }
        case Node::Kind::Mapping: {
            MetadataValue::Mapping mapping;
            mapping.reserve(node.entries.size());
            for (const auto& [key_node, value_node] : node.entries) {
                auto key = to_metadata_value(key_node);
                if (!key) {
                    return key;
                }
                auto value = to_metadata_value(value_node);
                if (!value) {
                    return value;
                }
                mapping.emplace_back(std::move(*key), std::move(*value));
            }
            return MetadataValue{std::move(mapping)};
        }
    }
    return MetadataValue{};
}

}  // namespace

std::expected<MetadataValue, YamlError> to_metadata_value(const Node& node) {
    if (node.tag.empty() || node.tag == "!") {
        if (node.tag == "!" && node.kind == Node::Kind::Scalar) {
            return MetadataValue{node.text};
        }
        return untagged(node);
    }
    if (node.tag.starts_with(kCoreTagPrefix)) {
        const std::string_view type = std::string_view(node.tag).substr(kCoreTagPrefix.size());
        if (node.kind == Node::Kind::Scalar) {
            if (auto typed = core_tagged_scalar(node, type)) {
                return std::move(*typed);
            }
        } else if ((type == "seq" && node.kind == Node::Kind::Sequence) ||
                   (type == "map" && node.kind == Node::Kind::Mapping)) {
            return untagged(node);
        }
    }
    auto inner = untagged(node);
    if (!inner) {
        return inner;
    }
    return MetadataValue{
        MetadataValue::Tagged{node.tag, std::make_shared<const MetadataValue>(std::move(*inner))}};
}

std::expected<MetadataValue, YamlError> parse_metadata_value(std::string_view text) {
    auto document = read_single_document(text);
    if (!document) {
        return std::unexpected(std::move(document.error()));
    }
    if (!*document) {
        return MetadataValue{};
    }
    return to_metadata_value(**document);
}

ValidationError validation_error(InputValueError error) {
    return ValidationError{error.code, std::move(error.message), {}, {}, nullptr, Backtrace::capture()};
}

std::expected<InputValue, ComposeError> input_value_from_yaml_text(std::string_view text) {
    auto value = parse_metadata_value(text);
    if (!value) {
        return std::unexpected(ConfigError::create(DiagnosticCode::ErrConfigParse, value.error().display()));
    }
    auto converted = input_value_from_yaml(*value);
    if (!converted) {
        return std::unexpected(validation_error(std::move(converted.error())));
    }
    return std::move(*converted);
}

}  // namespace zelk::composer::yaml
