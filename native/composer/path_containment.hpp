#pragma once
// Lexical normalisation, component-wise containment and canonicalisation confined to a root list.
// These are the primitives behind every check that a file read on a caller's behalf stays inside
// the workspace root and the allowed roots. Nothing here reads file contents.

#include <expected>
#include <filesystem>
#include <span>
#include <system_error>
#include <variant>

namespace zelk::composer {

/// Resolves "." and ".." lexically (no file-system access, symbolic links untouched). A ".." with
/// nothing but the root (or nothing) collected before it is dropped: "/.." gives "/", "a/../../b"
/// gives "b".
std::filesystem::path normalize_path(const std::filesystem::path& path);

/// True when some root's components are, one by one, the first components of `path` (the path may
/// equal the root). Exact, case-sensitive comparison of components; an empty list, or an empty
/// root, contains nothing.
bool is_within_any(const std::filesystem::path& path, std::span<const std::filesystem::path> roots);

/// The file system's canonical form of `path` (absolute, symbolic links resolved; the file must
/// exist), or the operating system's error. A path holding a NUL byte cannot name a file: it fails
/// with EINVAL instead of being silently truncated by the system call.
std::expected<std::filesystem::path, std::error_code> canonical_path(const std::filesystem::path& path);

/// True when `path` holds a NUL byte, which no system call can see past.
bool has_nul_byte(const std::filesystem::path& path);

/// The candidate canonicalised and known to lie within a root.
struct Contained {
    std::filesystem::path path;
    bool operator==(const Contained&) const = default;
};

/// The absolute candidate (before canonicalisation), which lies outside every root.
struct Escapes {
    std::filesystem::path path;
    bool operator==(const Escapes&) const = default;
};

/// The absolute candidate, lexically within a root, that could not be canonicalised, with the
/// operating system's error.
struct Unreadable {
    std::filesystem::path path;
    std::error_code error;
    bool operator==(const Unreadable&) const = default;
};

/// The three outcomes of `canonicalize_within_roots`.
using ContainmentOutcome = std::variant<Contained, Escapes, Unreadable>;

/// Canonicalises `candidate` (joined onto `root` when relative) and tests it against the root list
/// made of `root` followed by `further_roots`. Roots are compared exactly as passed (they are not
/// canonicalised here), so callers pass canonical roots where symbolic links matter. When
/// canonicalisation fails, the candidate and roots are compared lexically: inside gives
/// `Unreadable`, outside gives `Escapes` and the error is dropped.
ContainmentOutcome canonicalize_within_roots(const std::filesystem::path& candidate,
                                             const std::filesystem::path& root,
                                             std::span<const std::filesystem::path> further_roots);

}  // namespace zelk::composer
