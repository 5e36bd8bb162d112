#include "composer/frontmatter/normalizer.hpp"

#include <array>
#include <set>
#include <string_view>

#include <fmt/format.h>

#include "composer/yaml/metadata.hpp"

namespace zelk::composer {

namespace {

ConfigError section_error(std::string message, std::string section) {
    return ConfigError::create(DiagnosticCode::ErrConfigParse, std::move(message))
        .with_recovery_hint(RecoveryHint::ReviewConfiguration{std::move(section)});
}

// Adds one required name, refusing invalid names and a second declaration of the same name.
std::expected<void, ComposeError> add_required(std::string_view text, std::string_view section,
                                               std::set<VariableName>& seen,
                                               std::vector<VariableName>& names) {
    auto name = VariableName::create(text);
    if (!name) {
        return std::unexpected(
            section_error(fmt::format("invalid frontmatter variable name: {}", name.error().display()),
                          std::string(section)));
    }
    if (!seen.insert(*name).second) {
        return std::unexpected(ValidationError::duplicate_variable(*name));
    }
    names.push_back(std::move(*name));
    return {};
}

// Converts one defaults section into `defaults`, later sections replacing earlier entries.
std::expected<void, ComposeError> merge_defaults(const std::map<std::string, MetadataValue>& section,
                                                 std::string_view section_text, VariableMap& defaults) {
    for (const auto& [key, value] : section) {
        auto name = VariableName::create(key);
        if (!name) {
            return std::unexpected(section_error(
                fmt::format("invalid frontmatter {} variable name: {}", section_text, name.error().display()),
                std::string(section_text)));
        }
        auto converted = input_value_from_yaml(value);
        if (!converted) {
            return std::unexpected(yaml::validation_error(converted.error()));
        }
        defaults.insert_or_assign(std::move(*name), std::move(*converted));
    }
    return {};
}

}  // namespace

std::expected<Frontmatter, ComposeError> normalize_frontmatter(const RawFrontmatter& raw) {
    Frontmatter frontmatter;
    std::set<VariableName> seen;
    for (const std::string& text : raw.required_variables) {
        if (auto added = add_required(text, "required_variables", seen, frontmatter.required_variables);
            !added) {
            return std::unexpected(std::move(added.error()));
        }
    }
    for (const auto& [text, declaration] : raw.variables) {
        if (!declaration.required) {
            continue;
        }
        if (auto added = add_required(text, "variables", seen, frontmatter.required_variables); !added) {
            return std::unexpected(std::move(added.error()));
        }
    }
    if (auto merged = merge_defaults(raw.defaults, "default", frontmatter.defaults); !merged) {
        return std::unexpected(std::move(merged.error()));
    }
    if (!raw.defaults.empty() && !raw.input_defaults.empty()) {
        frontmatter.diagnostics.push_back(
            Diagnostic::create(DiagnosticSeverity::Warning, DiagnosticCode::WarnValConflictingDefaultSections,
                               "frontmatter contains both `defaults` and `input_defaults`; `input_defaults` "
                               "overrides overlapping keys"));
    }
    if (auto merged = merge_defaults(raw.input_defaults, "input_defaults", frontmatter.defaults); !merged) {
        return std::unexpected(std::move(merged.error()));
    }
    frontmatter.metadata = raw.metadata;
    frontmatter.explicit_pass = raw.pass.has_value();
    frontmatter.pass_number = raw.pass.value_or(0) == 0 ? 1 : *raw.pass;
    frontmatter.json_escape_mode = raw.json_escape_mode;
    return frontmatter;
}

std::expected<void, ComposeError> validate_explicit_pass_numbers(
    const std::vector<Frontmatter>& frontmatters) {
    std::array<bool, 256> seen{};
    for (const Frontmatter& frontmatter : frontmatters) {
        if (!frontmatter.explicit_pass) {
            continue;
        }
        if (seen[frontmatter.pass_number]) {
            return std::unexpected(yaml::validation_error(
                InputValueError{fmt::format("duplicate explicit pass number in stacked frontmatter: {}",
                                            frontmatter.pass_number),
                                DiagnosticCode::ErrConfigParse}));
        }
        seen[frontmatter.pass_number] = true;
    }
    return {};
}

}  // namespace zelk::composer
