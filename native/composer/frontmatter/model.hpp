#pragma once
// The template document model: frontmatter blocks as read from YAML, as normalised into
// passes, and the parsed document.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "composer/diagnostics/record.hpp"
#include "composer/types/input_value.hpp"
#include "composer/types/names.hpp"
#include "composer/types/request.hpp"

namespace zelk::composer {

/// One entry of a block's "variables" mapping.
struct RawVariableDeclaration {
    bool required = false;
    bool operator==(const RawVariableDeclaration&) const = default;
};

/// One frontmatter block exactly as read from YAML; absent keys read as empty.
struct RawFrontmatter {
    /// "pass": absent or null is nullopt.
    std::optional<std::uint8_t> pass;
    /// "required_variables", in order.
    std::vector<std::string> required_variables;
    /// "variables", in name order.
    std::map<std::string, RawVariableDeclaration> variables;
    /// "defaults", in key order.
    std::map<std::string, MetadataValue> defaults;
    /// "input_defaults", in key order; wins over "defaults".
    std::map<std::string, MetadataValue> input_defaults;
    /// "metadata", carried through.
    MetadataMap metadata;
    /// "json_escape_mode": absent or null is nullopt.
    std::optional<JsonEscapeMode> json_escape_mode;

    bool operator==(const RawFrontmatter&) const = default;
};

/// One normalised block: the configuration of one rendering pass.
struct Frontmatter {
    /// "required_variables" entries, then required "variables" entries in name order.
    std::vector<VariableName> required_variables;
    /// Findings of normalisation (the conflicting-sections warning).
    std::vector<Diagnostic> diagnostics;
    /// "defaults" merged with "input_defaults", the latter winning.
    VariableMap defaults;
    MetadataMap metadata;
    /// Whether the block had a non-null "pass".
    bool explicit_pass = false;
    std::optional<JsonEscapeMode> json_escape_mode;
    /// "pass" when present and non-zero, otherwise 1.
    std::uint8_t pass_number = 1;

    bool operator==(const Frontmatter&) const = default;
};

/// A parsed template document.
struct ParsedTemplate {
    /// One entry per frontmatter block, in document order; the first is the document's
    /// frontmatter proper.
    std::vector<Frontmatter> passes;
    /// Everything after the last block's closing line (or the whole text after a byte-order
    /// mark when there is no frontmatter).
    std::string body;

    bool operator==(const ParsedTemplate&) const = default;
};

}  // namespace zelk::composer
