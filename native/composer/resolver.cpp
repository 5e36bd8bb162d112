#include "composer/resolver.hpp"

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "composer/diagnostics/filesystem.hpp"
#include "composer/error/config.hpp"
#include "composer/error/resolve.hpp"
#include "composer/path_containment.hpp"
#include "composer/utf8.hpp"

namespace zelk::composer {
namespace {

namespace fs = std::filesystem;

using Directories = std::array<std::string_view, 3>;

// Rows per runtime (search order), columns per profile kind; CLAUDE has two directories per kind.
struct RuntimeRow {
    std::size_t count;
    std::array<Directories, 3> by_kind;
};

constexpr std::array<RuntimeRow, 5> kRuntimeTable = {{
    {2,
     {{{".claude/agents", ".agents/agents", ""},
       {".claude/commands", ".agents/commands", ""},
       {".claude/skills", ".agents/skills", ""}}}},
    {3,
     {{{".hermes/agents", ".agents/agents", ".claude/agents"},
       {".hermes/commands", ".agents/commands", ".claude/commands"},
       {".hermes/skills", ".agents/skills", ".claude/skills"}}}},
    {3,
     {{{".codex/agents", ".agents/agents", ".claude/agents"},
       {".codex/commands", ".agents/commands", ".claude/commands"},
       {".codex/skills", ".agents/skills", ".claude/skills"}}}},
    {3,
     {{{".gemini/agents", ".agents/agents", ".claude/agents"},
       {".gemini/commands", ".agents/commands", ".claude/commands"},
       {".gemini/skills", ".agents/skills", ".claude/skills"}}}},
    {3,
     {{{".opencode/agents", ".agents/agents", ".claude/agents"},
       {".opencode/commands", ".agents/commands", ".claude/commands"},
       {".opencode/skills", ".agents/skills", ".claude/skills"}}}},
}};

std::expected<fs::path, ConfigError> canonical_root(const fs::path& root) {
    auto canonical = canonical_path(root);
    if (!canonical) {
        return std::unexpected(
            ConfigError::create(DiagnosticCode::ErrConfigParse,
                                fmt::format("failed to canonicalize root: {}", path_display(root)))
                .with_source(make_source(canonical.error())));
    }
    return std::move(*canonical);
}

// A regular file (symbolic links followed); a name with a NUL byte would be truncated by the
// system call and test some other file.
bool is_probe_match(const fs::path& candidate) {
    std::error_code ignored;
    return !has_nul_byte(candidate) && fs::is_regular_file(candidate, ignored);
}

// Turns an escape or an unreadable candidate into the resolve error callers see.
ResolveError containment_error(const ContainmentOutcome& outcome) {
    if (const auto* escapes = std::get_if<Escapes>(&outcome)) {
        return ResolveError::create(
            DiagnosticCode::ErrResolveNotFound,
            fmt::format("template path escapes configured roots: {}", path_display(escapes->path)),
            {escapes->path});
    }
    const auto& unreadable = std::get<Unreadable>(outcome);
    const std::string shown = path_display(unreadable.path);
    DiagnosticCode code = DiagnosticCode::ErrResolveNotFound;
    std::string message;
    switch (classify_filesystem_error(unreadable.path, unreadable.error)) {
        case FilesystemErrorClass::PermissionDenied:
            code = DiagnosticCode::ErrIncludePermissionDenied;
            message = fmt::format("permission denied reading template path: {}", shown);
            break;
        case FilesystemErrorClass::FilesystemLoop:
            code = DiagnosticCode::ErrIncludeFilesystemLoop;
            message = fmt::format("template path is a filesystem symlink loop: {}", shown);
            break;
        case FilesystemErrorClass::IsADirectory:
        case FilesystemErrorClass::InvalidUtf8:
        case FilesystemErrorClass::Other:
            message = fmt::format("template path not found: {}", shown);
            break;
    }
    return ResolveError::create(code, std::move(message), {unreadable.path})
        .with_source(make_source(unreadable.error));
}

std::vector<fs::path> allowed_root_paths(const ComposePolicy& policy) {
    std::vector<fs::path> roots;
    roots.reserve(policy.allowed_roots.size());
    for (const auto& root : policy.allowed_roots) {
        roots.push_back(root.path);
    }
    return roots;
}

std::vector<fs::path> candidate_directories(const fs::path& root, ProfileKind kind,
                                            std::optional<RuntimeKind> runtime,
                                            const ResolverPolicy& policy) {
    std::vector<fs::path> directories;
    if (!policy.candidate_directories.empty()) {
        for (const auto& directory : policy.candidate_directories) {
            directories.push_back(root / directory);
        }
        return directories;
    }
    std::set<fs::path> seen;
    auto add_runtime = [&](RuntimeKind searched) {
        for (std::string_view relative : runtime_directories(searched, kind)) {
            fs::path directory = root / relative;
            if (seen.insert(directory).second) {
                directories.push_back(std::move(directory));
            }
        }
    };
    if (runtime) {
        add_runtime(*runtime);
    } else {
        for (RuntimeKind searched : kAllRuntimeKinds) {
            add_runtime(searched);
        }
    }
    return directories;
}

std::vector<fs::path> filename_probes(ProfileKind kind, const ProfileName& name,
                                      const ResolverPolicy& policy) {
    if (!policy.filename_probes.empty()) {
        return policy.filename_probes;
    }
    const std::string& text = name.as_str();
    if (kind == ProfileKind::Skill) {
        return {fs::path(text) / "SKILL.md.j2", fs::path(text) / "SKILL.md", fs::path(text) / "SKILL.j2"};
    }
    return {fs::path(text + ".md.j2"), fs::path(text + ".md"), fs::path(text + ".j2")};
}

}  // namespace

std::span<const std::string_view> runtime_directories(RuntimeKind runtime, ProfileKind kind) {
    const auto& row = kRuntimeTable.at(static_cast<std::size_t>(runtime));
    return std::span<const std::string_view>(row.by_kind.at(static_cast<std::size_t>(kind))).first(row.count);
}

std::expected<fs::path, ComposeError> canonicalize_with_roots(const fs::path& candidate, const fs::path& root,
                                                              std::span<const fs::path> allowed_roots) {
    auto canonical = canonical_root(root);
    if (!canonical) {
        return std::unexpected(std::move(canonical.error()));
    }
    std::vector<fs::path> further_roots(allowed_roots.begin(), allowed_roots.end());
    further_roots.push_back(root);
    auto outcome = canonicalize_within_roots(candidate, *canonical, further_roots);
    if (auto* contained = std::get_if<Contained>(&outcome)) {
        return std::move(contained->path);
    }
    return std::unexpected(containment_error(outcome));
}

std::expected<ResolveResult, ComposeError> resolve_profile_impl(const fs::path& root, ProfileKind kind,
                                                                const ProfileName& name,
                                                                std::optional<RuntimeKind> runtime,
                                                                const ResolverPolicy& policy) {
    const auto directories = candidate_directories(root, kind, runtime, policy);
    const auto probes = filename_probes(kind, name, policy);
    std::vector<fs::path> attempted;
    std::set<fs::path> attempted_set;
    std::vector<fs::path> matches;
    for (const auto& directory : directories) {
        for (const auto& probe : probes) {
            fs::path candidate = directory / probe;
            if (attempted_set.insert(candidate).second) {
                attempted.push_back(candidate);
            }
            if (!is_probe_match(candidate)) {
                continue;
            }
            auto canonical = canonical_path(candidate);
            if (!canonical) {
                return std::unexpected(
                    ResolveError::create(
                        DiagnosticCode::ErrResolveNotFound,
                        fmt::format("failed to canonicalize candidate: {}", path_display(candidate)),
                        {candidate})
                        .with_source(make_source(canonical.error())));
            }
            if (std::find(matches.begin(), matches.end(), *canonical) == matches.end()) {
                matches.push_back(std::move(*canonical));
            }
        }
    }
    if (matches.empty()) {
        return std::unexpected(ResolveError::create(
            DiagnosticCode::ErrResolveNotFound,
            fmt::format("no {} profile named `{}` was found", debug_name(kind), name.as_str()),
            std::move(attempted)));
    }
    if (matches.size() > 1) {
        return std::unexpected(
            ResolveError::create(DiagnosticCode::ErrResolveAmbiguous,
                                 fmt::format("multiple {} profiles named `{}` matched; specify a runtime",
                                             debug_name(kind), name.as_str()),
                                 std::move(attempted)));
    }
    return ResolveResult{std::move(matches.front()), std::move(attempted), {}};
}

std::expected<ResolveResult, ComposeError> resolve_template_path(const ComposeRequest& request) {
    if (const auto* profile = std::get_if<ComposeMode::Profile>(&request.mode.value)) {
        return resolve_profile_impl(request.root, profile->kind, profile->name, request.runtime,
                                    request.policy.resolver_policy);
    }
    const auto& file = std::get<ComposeMode::File>(request.mode.value);
    const auto allowed_roots = allowed_root_paths(request.policy);
    auto resolved = canonicalize_with_roots(file.template_path, request.root, allowed_roots);
    if (!resolved) {
        return std::unexpected(std::move(resolved.error()));
    }
    std::vector<fs::path> attempted = {*resolved};
    return ResolveResult{std::move(*resolved), std::move(attempted), {}};
}

std::expected<ResolveResult, ComposeError> resolve_profile(const ComposeRequest& request) {
    NoopObserver observer;
    return resolve_profile_with_observer(request, observer);
}

std::expected<ResolveResult, ComposeError> resolve_profile_with_observer(const ComposeRequest& request,
                                                                         CompositionObserver& observer) {
    const auto* profile = std::get_if<ComposeMode::Profile>(&request.mode.value);
    if (profile == nullptr) {
        return std::unexpected(
            ConfigError::create(DiagnosticCode::ErrConfigMode, "resolve_profile requires profile mode"));
    }
    observer.on_resolve_start(fmt::format("{}:{}", debug_name(profile->kind), profile->name.as_str()));
    auto result = resolve_profile_impl(request.root, profile->kind, profile->name, request.runtime,
                                       request.policy.resolver_policy);
    if (result) {
        observer.on_resolve_outcome(
            ResolveOutcomeEvent{result->attempted_paths, result->resolved_path, std::nullopt});
    } else if (const auto* error = result.error().get_if<ResolveError>()) {
        observer.on_resolve_outcome(ResolveOutcomeEvent{error->attempted_paths, std::nullopt, error->code});
    }
    return result;
}

}  // namespace zelk::composer
