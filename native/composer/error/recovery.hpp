#pragma once
// Suggestions attached to errors, first hint first.

#include <filesystem>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "composer/types/names.hpp"

namespace zelk::composer {

/// One recovery suggestion; seven kinds, each carrying one value.
struct RecoveryHint {
    struct RunCommand {
        std::string command;
        bool operator==(const RunCommand&) const = default;
    };
    struct InspectPath {
        std::filesystem::path path;
        bool operator==(const InspectPath&) const = default;
    };
    struct ProvideVariable {
        VariableName name;
        bool operator==(const ProvideVariable&) const = default;
    };
    /// Names a configuration section, for example "frontmatter" or "required_variables".
    struct ReviewConfiguration {
        std::string section;
        bool operator==(const ReviewConfiguration&) const = default;
    };
    /// How to fix the input document.
    struct FixInput {
        std::string text;
        bool operator==(const FixInput&) const = default;
    };
    /// How to remove an ambiguity.
    struct Disambiguate {
        std::string text;
        bool operator==(const Disambiguate&) const = default;
    };
    /// How to change the template.
    struct FixTemplate {
        std::string text;
        bool operator==(const FixTemplate&) const = default;
    };

    using Value = std::variant<RunCommand, InspectPath, ProvideVariable, ReviewConfiguration, FixInput,
                               Disambiguate, FixTemplate>;

    Value value;

    /// Wraps any of the seven kinds.
    template <typename T>
    requires std::is_constructible_v<Value, T&&> RecoveryHint(T&& kind)
        : value(std::forward<T>(kind)) {}  // NOLINT(google-explicit-constructor)

    /// "run command: {text}", "inspect path: {path}", "provide variable: {name}",
    /// "review configuration: {text}", or the carried text for the last three kinds.
    std::string description() const;

    bool operator==(const RecoveryHint&) const = default;
};

}  // namespace zelk::composer
