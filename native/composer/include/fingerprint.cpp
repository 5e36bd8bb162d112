#include "composer/include/fingerprint.hpp"

#include <fmt/format.h>

#include <limits>
#include <optional>

#include "composer/path_utils.hpp"
#include "composer/utf8.hpp"
#include "sha/composition.hpp"

namespace zelk::composer {

namespace {

// The components of `path` after those of `root`, when `root` is a component-wise prefix of it.
std::optional<std::filesystem::path> remainder_under(const std::filesystem::path& path,
                                                     const std::filesystem::path& root) {
    auto it = path.begin();
    for (const auto& component : root) {
        if (it == path.end() || *it != component) {
            return std::nullopt;
        }
        ++it;
    }
    std::filesystem::path rest;
    for (; it != path.end(); ++it) {
        rest /= *it;
    }
    return rest;
}

}  // namespace

std::expected<sha::CanonicalSource, IncludeError> canonical_source(
    const std::filesystem::path& file, const std::filesystem::path& root,
    std::span<const std::filesystem::path> allowed_roots) {
    std::optional<std::filesystem::path> source = remainder_under(file, root);
    for (std::size_t i = 0; !source && i < allowed_roots.size(); ++i) {
        if (auto rest = remainder_under(file, allowed_roots[i])) {
            source = std::filesystem::path(fmt::format("allowed-root-{}", i)) / *rest;
        }
    }
    if (!source) {
        return std::unexpected(IncludeError::create(
            DiagnosticCode::ErrIncludeEscape,
            fmt::format("include path is outside the configured source roots: {}", path_display(file)), {}));
    }
    auto url = sha::CanonicalSourceUrl::validate_representation(to_forward_slash(*source));
    if (!url) {
        return std::unexpected(IncludeError::create(
            DiagnosticCode::ErrConfigRead,
            fmt::format("invalid canonical include source: {}", url.error().display()), {}));
    }
    return sha::CanonicalSource{sha::SourceKind::File, std::move(*url)};
}

void add_node(std::vector<sha::ResolvedTemplateNode>& nodes, NodeIndex& index,
              const sha::CanonicalSource& source, const sha::CompositionSha256& digest) {
    if (index.insert(source).second) {
        nodes.push_back(sha::ResolvedTemplateNode{source.kind, source.url, digest});
    }
}

std::uint32_t next_occurrence(OccurrenceCounters& counters, const sha::CanonicalSource& from) {
    std::uint32_t& counter = counters.try_emplace(from, 0).first->second;
    const std::uint32_t current = counter;
    if (counter != std::numeric_limits<std::uint32_t>::max()) {
        ++counter;
    }
    return current;
}

std::expected<CompositionFingerprint, ComposeError> composition_fingerprint(const ExpansionState& state) {
    sha::ResolvedTemplateManifest manifest{state.nodes, state.edges, sha::ManifestSchemaVersion::V1};
    auto hash = sha::calculate_composition_hash(manifest);
    if (!hash) {
        return std::unexpected(IncludeError::create(
            DiagnosticCode::ErrConfigRead,
            fmt::format("resolved include manifest is invalid: {}", hash.error().display()),
            state.current_chain));
    }
    return CompositionFingerprint{std::move(manifest), *hash, state.resolved_files};
}

}  // namespace zelk::composer
