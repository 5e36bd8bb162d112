#pragma once
// Template resolution: from a request to the one template file to use, in file mode by confined
// canonicalisation, in profile mode by probing the runtimes' prompt directories.

#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "composer/error/compose.hpp"
#include "composer/observer.hpp"
#include "composer/types/names.hpp"
#include "composer/types/request.hpp"

namespace zelk::composer {

/// The outcome of a successful resolution.
struct ResolveResult {
    /// Canonical path of the template file.
    std::filesystem::path resolved_path;
    /// File mode: the one canonical path. Profile mode: every candidate built, in order, without
    /// duplicates.
    std::vector<std::filesystem::path> attempted_paths;
    /// Always empty: several matches are an error.
    std::vector<std::filesystem::path> ambiguity_candidates;

    bool operator==(const ResolveResult&) const = default;
};

/// Resolves the request's template: file mode confines the template path to the canonical
/// workspace root and the policy's allowed roots; profile mode searches as `resolve_profile_impl`.
/// The observer is not involved.
std::expected<ResolveResult, ComposeError> resolve_template_path(const ComposeRequest& request);

/// `resolve_profile_with_observer` with an observer that does nothing.
std::expected<ResolveResult, ComposeError> resolve_profile(const ComposeRequest& request);

/// Resolves a profile-mode request, telling `observer` what is resolved and the outcome (for
/// resolve errors too). A file-mode request is a configuration error and calls no hook.
std::expected<ResolveResult, ComposeError> resolve_profile_with_observer(const ComposeRequest& request,
                                                                         CompositionObserver& observer);

/// Searches the candidate directories (the policy's, or the runtime table under `root`) with the
/// file name probes (the policy's, or the defaults for `kind` and `name`). Exactly one distinct
/// canonical match resolves; none or several are resolve errors carrying every attempted path.
/// `root` is used as passed and matches are not confined to it.
std::expected<ResolveResult, ComposeError> resolve_profile_impl(const std::filesystem::path& root,
                                                                ProfileKind kind, const ProfileName& name,
                                                                std::optional<RuntimeKind> runtime,
                                                                const ResolverPolicy& policy);

/// The canonical path of `candidate` confined to the canonicalised `root`, `allowed_roots` and
/// `root` as passed, or the error for an uncanonicalisable root, an escape, a denied permission,
/// a symbolic-link loop or a missing path.
std::expected<std::filesystem::path, ComposeError> canonicalize_with_roots(
    const std::filesystem::path& candidate, const std::filesystem::path& root,
    std::span<const std::filesystem::path> allowed_roots);

/// The workspace directories, relative to the root, in which `runtime` keeps `kind` profiles, in
/// search order.
std::span<const std::string_view> runtime_directories(RuntimeKind runtime, ProfileKind kind);

}  // namespace zelk::composer
