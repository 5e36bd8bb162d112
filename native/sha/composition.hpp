// The composition hash: SHA-256 over the serialised manifest of a composition.
#pragma once

#include <expected>
#include <string>

#include "sha/digest.hpp"
#include "sha/manifest.hpp"

namespace zelk::sha {

/// Why a manifest cannot be hashed.
enum class CompositionErrorKind { UnsupportedSchema, DuplicateSource, UnknownEdgeEndpoint };

/// Failure of `calculate_composition_hash`.
struct CompositionError {
    CompositionErrorKind kind;

    /// Returns the fixed text of the case, telling the caller how to fix the manifest.
    std::string display() const;
    bool operator==(const CompositionError&) const = default;
};

/// Checks the manifest (schema V1, no two nodes with one source, every edge endpoint a node) and
/// returns the SHA-256 of its serialisation. Node and edge order are part of the hash.
std::expected<CompositionSha256, CompositionError> calculate_composition_hash(
    const ResolvedTemplateManifest& manifest);

}  // namespace zelk::sha
