#pragma once
// Normalising frontmatter blocks into checked passes.

#include <expected>
#include <vector>

#include "composer/error.hpp"
#include "composer/frontmatter/model.hpp"

namespace zelk::composer {

/// Checks and merges one block: required names (no duplicates across "required_variables" and
/// "variables"), defaults merged with "input_defaults" (which win, with a warning when both
/// sections are non-empty), metadata, escape mode and pass number.
std::expected<Frontmatter, ComposeError> normalize_frontmatter(const RawFrontmatter& raw);

/// Fails on the first explicit pass number that a block repeats; blocks without an explicit
/// number are not checked.
std::expected<void, ComposeError> validate_explicit_pass_numbers(
    const std::vector<Frontmatter>& frontmatters);

}  // namespace zelk::composer
