#include "sha/composition.hpp"

#include <set>

namespace zelk::sha {

std::string CompositionError::display() const {
    switch (kind) {
        case CompositionErrorKind::UnsupportedSchema:
            return "unsupported resolved manifest schema; provide ManifestSchemaVersion::V1";
        case CompositionErrorKind::DuplicateSource:
            return "resolved manifest contains a duplicate source; deduplicate nodes before hashing";
        case CompositionErrorKind::UnknownEdgeEndpoint:
            return "resolved manifest edge has an unknown endpoint; include every endpoint in nodes";
    }
    return "";
}

std::expected<CompositionSha256, CompositionError> calculate_composition_hash(
    const ResolvedTemplateManifest& manifest) {
    if (manifest.schema_version != ManifestSchemaVersion::V1) {
        return std::unexpected(CompositionError{CompositionErrorKind::UnsupportedSchema});
    }
    using Key = std::pair<SourceKind, std::string_view>;
    std::set<Key> sources;
    for (const auto& node : manifest.nodes) {
        if (!sources.emplace(node.kind, node.canonical_source.as_str()).second) {
            return std::unexpected(CompositionError{CompositionErrorKind::DuplicateSource});
        }
    }
    for (const auto& edge : manifest.edges) {
        if (!sources.contains(Key{edge.from.kind, edge.from.url.as_str()}) ||
            !sources.contains(Key{edge.to.kind, edge.to.url.as_str()})) {
            return std::unexpected(CompositionError{CompositionErrorKind::UnknownEdgeEndpoint});
        }
    }
    return sha256(serialize_manifest(manifest));
}

}  // namespace zelk::sha
