#pragma once
// The document formats extraction can match a template against.

#include <cstdint>
#include <optional>
#include <string_view>

namespace zelk::composer {

/// The format of a rendered document; XML unless a request says otherwise.
enum class ExtractFormat : std::uint8_t { Xml, Json, Yaml, Toml, Raw };

/// "xml", "json", "yaml", "toml" or "raw".
constexpr std::string_view as_str(ExtractFormat format) {
    switch (format) {
        case ExtractFormat::Xml:
            return "xml";
        case ExtractFormat::Json:
            return "json";
        case ExtractFormat::Yaml:
            return "yaml";
        case ExtractFormat::Toml:
            return "toml";
        case ExtractFormat::Raw:
            return "raw";
    }
    return "xml";
}

/// The format whose name is exactly `text`.
constexpr std::optional<ExtractFormat> extract_format_from_str(std::string_view text) {
    for (auto format : {ExtractFormat::Xml, ExtractFormat::Json, ExtractFormat::Yaml, ExtractFormat::Toml,
                        ExtractFormat::Raw}) {
        if (as_str(format) == text) {
            return format;
        }
    }
    return std::nullopt;
}

}  // namespace zelk::composer
