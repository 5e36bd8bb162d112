#pragma once
// Confinement of include targets to the workspace root and the allowed roots.

#include <expected>
#include <filesystem>
#include <span>
#include <vector>

#include "composer/error/include.hpp"

namespace zelk::composer {

/// Canonicalises `target` (joined onto `root` when relative) and checks that it lies within `root`
/// or one of `allowed_roots`, which must be canonical. Failures are include errors carrying
/// `include_chain`: an escape, or why the target cannot be canonicalised (directory, permission,
/// symbolic-link loop, otherwise not found). A target that canonicalises to a directory is returned;
/// reading it fails later.
std::expected<std::filesystem::path, IncludeError> canonicalize_include(
    const std::filesystem::path& target, const std::filesystem::path& root,
    std::span<const std::filesystem::path> allowed_roots,
    const std::vector<std::filesystem::path>& include_chain);

}  // namespace zelk::composer
