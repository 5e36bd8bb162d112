#pragma once
// The policy checks that decide whether a composition may render, as diagnostics.

#include <filesystem>
#include <string>
#include <vector>

#include "composer/diagnostics/record.hpp"
#include "composer/include/expansion.hpp"
#include "composer/types/input_value.hpp"
#include "composer/types/names.hpp"
#include "composer/types/request.hpp"
#include "composer/validation/state.hpp"

namespace zelk::composer {

/// The findings of the policy checks: errors, and warnings together with infos.
struct PolicyDiagnostics {
    std::vector<Diagnostic> warnings;
    std::vector<Diagnostic> errors;

    bool operator==(const PolicyDiagnostics&) const = default;
};

/// Runs the checks in their fixed order: empty body, files without frontmatter, frontmatter
/// findings, JSON escape mode, defaults used, required paths, undeclared tokens, extra provided
/// variables, unbound variables. `root_path` is the resolved root template.
PolicyDiagnostics collect_policy_diagnostics(const ComposeRequest& request, const ExpandedTemplate& expanded,
                                             const std::filesystem::path& root_path,
                                             const ValidationState& state);

/// The part of `name` before its first "."; the whole name when that part is empty.
VariableName top_level_variable_name(const VariableName& name);

/// `value` as compact JSON: no spaces, object keys in key order, strings quoted and escaped.
std::string compact_json(const InputValue& value);

}  // namespace zelk::composer
