#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sha/composition.hpp"
#include "sha/file.hpp"
#include "sha/manifest.hpp"

using namespace zelk::sha;

namespace {

CanonicalSourceUrl url(std::string text) {
    return CanonicalSourceUrl::validate_representation(std::move(text)).value();
}

CanonicalSource file_source(std::string text) {
    return CanonicalSource{SourceKind::File, url(std::move(text))};
}

ResolvedTemplateNode node(std::string text, std::string_view content) {
    return ResolvedTemplateNode{SourceKind::File, url(std::move(text)), sha256(content)};
}

}  // namespace

TEST(Digest, HexIsLowerCaseInByteOrder) {
    EXPECT_EQ(sha256("abc").to_hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    CompositionSha256 digest;
    digest.bytes[0] = 0x0a;
    digest.bytes[31] = 0xff;
    const std::string hex = digest.to_hex();
    EXPECT_EQ(hex.size(), 64u);
    EXPECT_EQ(hex.substr(0, 2), "0a");
    EXPECT_EQ(hex.substr(62), "ff");
}

TEST(FileHash, LineEndingsAreNormalisedAndNothingElse) {
    struct Case {
        std::string raw;
        std::string normalised;
    };
    const std::vector<Case> cases = {
        {"a\r\nb\r", "a\nb\n"},
        {"a\r\rb", "a\n\nb"},
        {"\r\r\n\n", "\n\n\n"},
        {"\xef\xbb\xbfno newline", "\xef\xbb\xbfno newline"},  // BOM and missing final LF kept
        {"", ""},
    };
    for (const auto& c : cases) {
        const auto hash = calculate_hash(c.raw);
        ASSERT_TRUE(hash.has_value()) << c.raw;
        EXPECT_EQ(*hash, sha256(c.normalised)) << c.raw;
    }
    EXPECT_NE(*calculate_hash("a\nb"), *calculate_hash("a\nb\n"));
}

TEST(FileHash, RejectsInvalidUtf8) {
    const std::vector<std::string> invalid = {
        "\xff",
        "\xc0\x80",  // overlong NUL
        "\xe0\x80\xaf",
        "\xed\xa0\x80",  // overlong, surrogate
        "\xf4\x90\x80\x80",
        "abc\xe2\x82",  // above U+10FFFF, truncated
        "12345678\x80",
        std::string("ok\0\xc3", 4),
    };
    for (const auto& bytes : invalid) {
        const auto hash = calculate_hash(bytes);
        ASSERT_FALSE(hash.has_value());
        EXPECT_EQ(hash.error().display(),
                  "text-file bytes are not valid UTF-8; encode the source as UTF-8 before hashing");
    }
    for (const std::string valid : {"\xc2\x80", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xf4\x8f\xbf\xbf"}) {
        EXPECT_TRUE(calculate_hash(valid).has_value()) << valid;
    }
}

TEST(CanonicalSourceUrl, AcceptsOnlyForwardSlashTextWithoutControls) {
    for (const std::string good :
         {"a.md", "allowed-root-0/shared/footer.md", "d\xc3\xa9j\xc3\xa0/\xc2\xa0x"}) {
        EXPECT_TRUE(CanonicalSourceUrl::validate_representation(good).has_value()) << good;
    }
    for (const std::string bad :
         {"", "a\\b", "bell\x07.md", "tab\t", "del\x7f", "c1\xc2\x85", "c1\xc2\x9f", "bad\xff"}) {
        const auto result = CanonicalSourceUrl::validate_representation(bad);
        ASSERT_FALSE(result.has_value()) << bad;
        EXPECT_EQ(result.error().display(),
                  "invalid canonical source representation; provide a non-empty canonical path or URL "
                  "with forward-slash separators and no control characters");
    }
}

TEST(CompositionHash, SingleNodeSerialisationIsLengthPrefixedBigEndian) {
    ResolvedTemplateManifest manifest;
    manifest.nodes.push_back(node("a.md", "hello"));

    std::string expected;
    const auto u64 = [&](std::uint64_t v) {
        for (int shift = 56; shift >= 0; shift -= 8)
            expected.push_back(static_cast<char>(v >> shift));
    };
    u64(20);
    expected += "zelk-sha/manifest/v1";
    expected.push_back('\x01');
    u64(1);
    expected.push_back('\x00');
    u64(4);
    expected += "a.md";
    u64(32);
    const auto digest = sha256("hello");
    expected.append(reinterpret_cast<const char*>(digest.bytes.data()), 32);
    u64(0);

    EXPECT_EQ(serialize_manifest(manifest), expected);
    EXPECT_EQ(calculate_composition_hash(manifest).value(), sha256(expected));
}

TEST(CompositionHash, EdgesAndOrderArePartOfTheHash) {
    ResolvedTemplateManifest manifest;
    manifest.nodes = {node("a.md", "A"), node("b.md", "B")};
    manifest.edges = {{file_source("a.md"), file_source("b.md"), 0},
                      {file_source("a.md"), file_source("b.md"), 1}};
    const auto base = calculate_composition_hash(manifest).value();

    // Edge tail: kinds, length-prefixed texts, then the 32-bit occurrence.
    const std::string serialised = serialize_manifest(manifest);
    const std::string tail = std::string("\x00", 1) + std::string(7, '\0') + "\x04" + "a.md" +
                             std::string(1, '\0') + std::string(7, '\0') + "\x04" + "b.md" +
                             std::string("\x00\x00\x00\x01", 4);
    ASSERT_GE(serialised.size(), tail.size());
    EXPECT_EQ(serialised.substr(serialised.size() - tail.size()), tail);

    auto swapped = manifest;
    std::swap(swapped.nodes[0], swapped.nodes[1]);
    EXPECT_NE(calculate_composition_hash(swapped).value(), base);

    auto renumbered = manifest;
    renumbered.edges[1].occurrence = 7;
    EXPECT_NE(calculate_composition_hash(renumbered).value(), base);
}

TEST(CompositionHash, RejectsInvalidManifests) {
    ResolvedTemplateManifest unsupported;
    unsupported.schema_version = static_cast<ManifestSchemaVersion>(2);

    ResolvedTemplateManifest duplicate;
    duplicate.nodes = {node("a.md", "one"), node("a.md", "two")};

    ResolvedTemplateManifest dangling_to;
    dangling_to.nodes = {node("a.md", "A")};
    dangling_to.edges = {{file_source("a.md"), file_source("missing.md"), 0}};

    ResolvedTemplateManifest wrong_kind;
    wrong_kind.nodes = {node("a.md", "A")};
    wrong_kind.edges = {{file_source("a.md"), CanonicalSource{SourceKind::Remote, url("a.md")}, 0}};

    struct Case {
        const ResolvedTemplateManifest* manifest;
        std::string text;
    };
    const std::vector<Case> cases = {
        {&unsupported, "unsupported resolved manifest schema; provide ManifestSchemaVersion::V1"},
        {&duplicate, "resolved manifest contains a duplicate source; deduplicate nodes before hashing"},
        {&dangling_to, "resolved manifest edge has an unknown endpoint; include every endpoint in nodes"},
        {&wrong_kind, "resolved manifest edge has an unknown endpoint; include every endpoint in nodes"},
    };
    for (const auto& c : cases) {
        const auto result = calculate_composition_hash(*c.manifest);
        ASSERT_FALSE(result.has_value()) << c.text;
        EXPECT_EQ(result.error().display(), c.text);
    }

    // The same text under another kind is a different source, so it is no duplicate.
    ResolvedTemplateManifest two_kinds;
    two_kinds.nodes = {node("a.md", "A"), ResolvedTemplateNode{SourceKind::Remote, url("a.md"), sha256("A")}};
    EXPECT_TRUE(calculate_composition_hash(two_kinds).has_value());
}
