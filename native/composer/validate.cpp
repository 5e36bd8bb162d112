#include "composer/validate.hpp"

#include <fmt/format.h>

#include "composer/path_utils.hpp"
#include "composer/validation/diagnostics.hpp"

namespace zelk::composer {

std::string resolve_start_label(const ComposeRequest& request) {
    if (const auto* file = std::get_if<ComposeMode::File>(&request.mode.value)) {
        return to_forward_slash(file->template_path);
    }
    const auto& profile = std::get<ComposeMode::Profile>(request.mode.value);
    return fmt::format("{}:{}", debug_name(profile.kind), profile.name.as_str());
}

std::expected<ResolvedExpansion, ComposeError> resolve_and_expand_with_observer(
    const ComposeRequest& request, CompositionObserver& observer) {
    observer.on_resolve_start(resolve_start_label(request));
    auto resolved = resolve_template_path(request);
    if (!resolved) {
        if (const auto* error = resolved.error().get_if<ResolveError>()) {
            observer.on_resolve_outcome(
                ResolveOutcomeEvent{error->attempted_paths, std::nullopt, error->code});
        }
        return std::unexpected(std::move(resolved.error()));
    }
    observer.on_resolve_outcome(
        ResolveOutcomeEvent{resolved->attempted_paths, resolved->resolved_path, std::nullopt});

    auto expanded = expand_includes(resolved->resolved_path, request.root, request.policy);
    if (!expanded) {
        if (const auto* error = expanded.error().get_if<IncludeError>()) {
            observer.on_include_outcome(IncludeOutcomeEvent{{}, error->include_chain, error->code});
        }
        return std::unexpected(std::move(expanded.error()));
    }
    observer.on_include_outcome(IncludeOutcomeEvent{expanded->resolved_files, {}, std::nullopt});
    return ResolvedExpansion{std::move(*resolved), std::move(*expanded)};
}

std::pair<ValidationReport, ValidationState> validate_expanded_with_delimiters(
    const ComposeRequest& request, const ExpandedTemplate& expanded, ResolveResult resolve_result,
    const std::optional<ExpressionDelimiters>& delimiters) {
    ValidationState state = collect_validation_state(request, expanded);
    if (delimiters) {
        apply_custom_delimiters(state, expanded, *delimiters);
    }
    PolicyDiagnostics findings =
        collect_policy_diagnostics(request, expanded, resolve_result.resolved_path, state);
    ValidationReport report;
    report.ok = findings.errors.empty();
    report.errors = std::move(findings.errors);
    report.warnings = std::move(findings.warnings);
    report.resolve_result = std::move(resolve_result);
    return {std::move(report), std::move(state)};
}

std::expected<std::pair<ValidationReport, ExpandedTemplate>, ComposeError>
validate_with_observer_and_delimiters_with_expansion(const ComposeRequest& request,
                                                     CompositionObserver& observer,
                                                     const std::optional<ExpressionDelimiters>& delimiters) {
    auto resolved = resolve_and_expand_with_observer(request, observer);
    if (!resolved) {
        return std::unexpected(std::move(resolved.error()));
    }
    ValidationReport report =
        validate_expanded_with_delimiters(request, resolved->expanded, std::move(resolved->resolve_result),
                                          delimiters)
            .first;
    observer.on_validation_end(ValidationEndEvent{report.warnings, report.errors});
    return std::pair{std::move(report), std::move(resolved->expanded)};
}

std::expected<ValidationReport, ComposeError> validate(const ComposeRequest& request) {
    NoopObserver observer;
    auto validated = validate_with_observer_and_delimiters_with_expansion(request, observer, std::nullopt);
    if (!validated) {
        return std::unexpected(std::move(validated.error()));
    }
    return std::move(validated->first);
}

}  // namespace zelk::composer
