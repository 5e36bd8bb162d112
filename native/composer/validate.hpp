#pragma once
// Validation without rendering: resolve, expand includes, build the validation state and run the
// policy checks. Findings are diagnostics in the report, never errors; only resolution and
// expansion fail.

#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "composer/diagnostics/record.hpp"
#include "composer/discovery.hpp"
#include "composer/error/compose.hpp"
#include "composer/include/expansion.hpp"
#include "composer/observer.hpp"
#include "composer/resolver.hpp"
#include "composer/types/request.hpp"
#include "composer/validation/state.hpp"

namespace zelk::composer {

/// The outcome of validating one request.
struct ValidationReport {
    /// True exactly when `errors` is empty.
    bool ok = true;
    /// Error diagnostics, in the order of the checks.
    std::vector<Diagnostic> errors;
    /// Warning and info diagnostics, in the order of the checks.
    std::vector<Diagnostic> warnings;
    ResolveResult resolve_result;

    bool operator==(const ValidationReport&) const = default;
};

/// A resolved template together with its include expansion.
struct ResolvedExpansion {
    ResolveResult resolve_result;
    ExpandedTemplate expanded;
};

/// What the observer is told before resolution: the template path in forward-slash form, or
/// "{Kind}:{name}" for a profile ("Agent:reviewer").
std::string resolve_start_label(const ComposeRequest& request);

/// Resolves the request's template and expands its includes, telling `observer` the resolve start,
/// the resolve outcome and the include outcome (for resolve and include errors too; other errors
/// are returned without their hook). The request's root is used as passed (canonical).
std::expected<ResolvedExpansion, ComposeError> resolve_and_expand_with_observer(
    const ComposeRequest& request, CompositionObserver& observer);

/// Validates a template already expanded: builds the state, applies the custom delimiters when
/// given, and runs the policy checks with `resolve_result.resolved_path` as root. Returns the
/// report, which takes over `resolve_result`, and the state for rendering to go on with.
std::pair<ValidationReport, ValidationState> validate_expanded_with_delimiters(
    const ComposeRequest& request, const ExpandedTemplate& expanded, ResolveResult resolve_result,
    const std::optional<ExpressionDelimiters>& delimiters);

/// Resolves, expands and validates, telling `observer` every stage (ending with the validation
/// diagnostics); returns the report together with the expanded template.
std::expected<std::pair<ValidationReport, ExpandedTemplate>, ComposeError>
validate_with_observer_and_delimiters_with_expansion(const ComposeRequest& request,
                                                     CompositionObserver& observer,
                                                     const std::optional<ExpressionDelimiters>& delimiters);

/// Validates with an observer that does nothing and the standard delimiters.
std::expected<ValidationReport, ComposeError> validate(const ComposeRequest& request);

}  // namespace zelk::composer
