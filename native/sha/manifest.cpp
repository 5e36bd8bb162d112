#include "sha/manifest.hpp"

#include "sha/file.hpp"

namespace zelk::sha {

std::string CanonicalSourceError::display() const {
    return "invalid canonical source representation; provide a non-empty canonical path or URL with "
           "forward-slash separators and no control characters";
}

std::expected<CanonicalSourceUrl, CanonicalSourceError> CanonicalSourceUrl::validate_representation(
    std::string text) {
    if (text.empty() || !is_valid_utf8(text)) {
        return std::unexpected(CanonicalSourceError{});
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // C1 controls U+0080..U+009F are encoded as C2 80..C2 9F.
        const bool c1 =
            byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (byte < 0x20 || byte == 0x7f || byte == '\\' || c1) {
            return std::unexpected(CanonicalSourceError{});
        }
    }
    return CanonicalSourceUrl(std::move(text));
}

std::string_view schema_identifier(ManifestSchemaVersion version) {
    switch (version) {
        case ManifestSchemaVersion::V1:
            return "zelk-sha/manifest/v1";
    }
    return "";
}

namespace {

void put_u8(std::string& out, std::uint8_t value) {
    out.push_back(static_cast<char>(value));
}

template <typename T>
void put_big_endian(std::string& out, T value) {
    for (int shift = static_cast<int>(sizeof(T)) * 8 - 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

void put_text(std::string& out, std::string_view text) {
    put_big_endian<std::uint64_t>(out, text.size());
    out.append(text);
}

void put_source(std::string& out, const CanonicalSource& source) {
    put_u8(out, static_cast<std::uint8_t>(source.kind));
    put_text(out, source.url.as_str());
}

}  // namespace

std::string serialize_manifest(const ResolvedTemplateManifest& manifest) {
    std::string out;
    put_text(out, schema_identifier(manifest.schema_version));
    put_u8(out, static_cast<std::uint8_t>(manifest.schema_version));
    put_big_endian<std::uint64_t>(out, manifest.nodes.size());
    for (const auto& node : manifest.nodes) {
        put_u8(out, static_cast<std::uint8_t>(node.kind));
        put_text(out, node.canonical_source.as_str());
        put_text(out, std::string_view(reinterpret_cast<const char*>(node.digest.bytes.data()),
                                       node.digest.bytes.size()));
    }
    put_big_endian<std::uint64_t>(out, manifest.edges.size());
    for (const auto& edge : manifest.edges) {
        put_source(out, edge.from);
        put_source(out, edge.to);
        put_big_endian<std::uint32_t>(out, edge.occurrence);
    }
    return out;
}

}  // namespace zelk::sha
