#pragma once
// Required variables and dotted required paths: checking them against the state's values, the
// diagnostics for what is missing or misshaped, and locating a declaration in its file.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "composer/diagnostics/record.hpp"
#include "composer/types/input_value.hpp"
#include "composer/types/names.hpp"
#include "composer/validation/state.hpp"

namespace zelk::composer {

/// The outcome of checking one required path.
struct RequiredPathResult {
    enum class Kind : std::uint8_t {
        Present,
        /// The top-level variable has no value.
        Missing,
        /// `path` runs up to and including the first missing segment.
        MissingNestedField,
        /// `path` runs up to the value that should have been an object.
        NotAnObject,
    };

    Kind kind = Kind::Present;
    std::string path;

    bool is_present() const { return kind == Kind::Present; }
    bool operator==(const RequiredPathResult&) const = default;
};

/// Line and column (both from 1) of a declaration.
struct SourceLocation {
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    bool operator==(const SourceLocation&) const = default;
};

/// Whether some key of `names` (a set of names, or a map keyed by name) is a dotted path below
/// `name`, such as "name.field". Such keys sort right after "name.", so one lookup decides.
template <typename Container>
bool has_key_below(const Container& names, const VariableName& name) {
    const auto prefix = VariableName::create(name.as_str() + ".");
    if (!prefix) {
        return false;
    }
    const auto next = names.lower_bound(*prefix);
    if (next == names.end()) {
        return false;
    }
    if constexpr (std::is_same_v<typename Container::key_type, typename Container::value_type>) {
        return next->as_str().starts_with(prefix->as_str());
    } else {
        return next->first.as_str().starts_with(prefix->as_str());
    }
}

/// "null", "boolean", "number", "string", "array" or "object", the kind texts of messages.
std::string_view value_kind_text(const InputValue& value);

/// Checks `path_text` (dot-separated) against the state's values: its first segment must be a
/// variable with a value, and the rest a walk through objects (arrays: every element).
RequiredPathResult validate_required_path(const ValidationState& state, std::string_view path_text);

/// Walks `segments` through `value`; `shown_path` is the path up to `value`. Every element of an
/// array is walked with the same segments and the first failure decides.
RequiredPathResult validate_required_value(const InputValue& value,
                                           std::span<const std::string_view> segments,
                                           const std::string& shown_path);

/// The diagnostic for `name`, declared in `declaring_file`, given its check `result`; nothing when
/// it is present and not a scalar consumed by a bare `{% for %}` loop.
std::optional<Diagnostic> required_path_diagnostic(const ValidationState& state, const VariableName& name,
                                                   const std::filesystem::path& declaring_file,
                                                   const RequiredPathResult& result);

/// The diagnostics of every required entry of the state, in name order.
std::vector<Diagnostic> required_path_diagnostics(const ValidationState& state);

/// Where `- {name}` appears in the block-style "required_variables:" list of the first frontmatter
/// block of `file_text`; nothing for flow lists, quoted items or names under "variables".
std::optional<SourceLocation> required_variable_location(std::string_view file_text, std::string_view name);

}  // namespace zelk::composer
