#pragma once
// The composition fingerprint: manifest nodes named by location-independent sources, include
// edges with occurrence numbers, and the composition hash over them.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <vector>

#include "composer/error/compose.hpp"
#include "composer/error/include.hpp"
#include "composer/include/state.hpp"
#include "sha/digest.hpp"
#include "sha/manifest.hpp"

namespace zelk::composer {

/// The manifest of one expansion, its hash and the files it resolved.
struct CompositionFingerprint {
    sha::ResolvedTemplateManifest manifest;
    sha::CompositionSha256 composition_sha256;
    std::vector<std::filesystem::path> resolved_files;

    bool operator==(const CompositionFingerprint&) const = default;
};

/// Names `file` independently of where the workspace lies: its path relative to `root`, or
/// "allowed-root-{i}/..." for the first allowed root `i` that contains it, in forward-slash text.
/// A file outside every root is an `ERR_INCLUDE_ESCAPE` include error; text that cannot name a
/// source (a control character in a file name, say) is an `ERR_CONFIG_READ` include error.
std::expected<sha::CanonicalSource, IncludeError> canonical_source(
    const std::filesystem::path& file, const std::filesystem::path& root,
    std::span<const std::filesystem::path> allowed_roots);

/// Appends a node for `source` unless one was recorded already (the first hash wins).
void add_node(std::vector<sha::ResolvedTemplateNode>& nodes, NodeIndex& index,
              const sha::CanonicalSource& source, const sha::CompositionSha256& digest);

/// The occurrence number of the next edge from `from`: the count of its earlier edges, held at the
/// 32-bit maximum.
std::uint32_t next_occurrence(OccurrenceCounters& counters, const sha::CanonicalSource& from);

/// Builds the V1 manifest from the state's nodes and edges and hashes it. An invalid manifest is an
/// `ERR_CONFIG_READ` include error carrying the state's current chain.
std::expected<CompositionFingerprint, ComposeError> composition_fingerprint(const ExpansionState& state);

}  // namespace zelk::composer
