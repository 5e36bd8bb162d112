// The resolved-template manifest: every file of a composition as a node, every include site as an
// edge, and the canonical byte serialisation that the composition hash is taken over.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "sha/digest.hpp"

namespace zelk::sha {

/// Failure to build a `CanonicalSourceUrl`.
struct CanonicalSourceError {
    /// Returns the fixed explanation of what a canonical source must look like.
    std::string display() const;
};

/// Location-independent name of a source: non-empty UTF-8 text without backslashes or control
/// characters (U+0000..U+001F, U+007F..U+009F). Only `validate_representation` builds one.
class CanonicalSourceUrl {
  public:
    /// Validates `text` and wraps it, or reports why it cannot name a source.
    static std::expected<CanonicalSourceUrl, CanonicalSourceError> validate_representation(std::string text);

    /// The validated text.
    const std::string& as_str() const { return text_; }

    auto operator<=>(const CanonicalSourceUrl&) const = default;

  private:
    explicit CanonicalSourceUrl(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

/// Kind byte of a canonical source. This system only produces `File`; `Remote` belongs to the format.
enum class SourceKind : std::uint8_t { File = 0, Remote = 1 };

/// A source as the manifest names it: its kind and its canonical text.
struct CanonicalSource {
    SourceKind kind = SourceKind::File;
    CanonicalSourceUrl url;

    auto operator<=>(const CanonicalSource&) const = default;
};

/// One file of a composition with the hash of its normalised text.
struct ResolvedTemplateNode {
    SourceKind kind = SourceKind::File;
    CanonicalSourceUrl canonical_source;
    CompositionSha256 digest;

    bool operator==(const ResolvedTemplateNode&) const = default;
};

/// One include site: the including file, the included file and the site's occurrence number among
/// all edges recorded from the same including file.
struct ResolvedIncludeEdge {
    CanonicalSource from;
    CanonicalSource to;
    std::uint32_t occurrence = 0;

    bool operator==(const ResolvedIncludeEdge&) const = default;
};

/// Version of the manifest layout; only `V1` can be hashed.
enum class ManifestSchemaVersion : std::uint8_t { V1 = 1 };

/// Returns the schema identifier text, "zelk-sha/manifest/v1" for `V1`.
std::string_view schema_identifier(ManifestSchemaVersion version);

/// Nodes and edges of one composition, in the order expansion recorded them.
struct ResolvedTemplateManifest {
    std::vector<ResolvedTemplateNode> nodes;
    std::vector<ResolvedIncludeEdge> edges;
    ManifestSchemaVersion schema_version = ManifestSchemaVersion::V1;

    bool operator==(const ResolvedTemplateManifest&) const = default;
};

/// Serialises the manifest as length-prefixed big-endian fields: the schema header, the nodes and the
/// edges in list order. The caller checks the manifest first (see `calculate_composition_hash`).
std::string serialize_manifest(const ResolvedTemplateManifest& manifest);

}  // namespace zelk::sha
