#pragma once
// Include expansion: every directive line is replaced, recursively, by the body of the file it names,
// confined to the workspace root and the allowed roots, bounded in depth, free of cycles. Every file
// is read once per expansion; its frontmatter blocks, include chain and hash are recorded on its first
// visit, and every include site becomes a manifest edge.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "composer/error/compose.hpp"
#include "composer/include/fingerprint.hpp"
#include "composer/include/state.hpp"
#include "composer/types/request.hpp"

namespace zelk::composer {

/// Include nesting is never deeper than this, whatever the policy asks for.
inline constexpr std::uint16_t kMaxIncludeDepthCap = 128;
/// Include sites expanded per composition at most. A repeated include is expanded again at every
/// site, so a few files that each include the next twice would otherwise grow without bound.
inline constexpr std::size_t kMaxIncludeSites = 100'000;
/// Bytes of expanded text per composition at most, for the same reason.
inline constexpr std::size_t kMaxExpandedBytes = std::size_t{64} << 20;

/// The result of `expand_includes`.
struct ExpandedTemplate {
    /// The body with every include expanded and every frontmatter block removed.
    std::string text;
    /// Per file, in first-visit order: its canonical path and its frontmatter blocks.
    std::vector<std::pair<std::filesystem::path, std::vector<Frontmatter>>> frontmatters;
    /// Per file: the chain with which it was first reached, ending with the file.
    std::map<std::filesystem::path, std::vector<std::filesystem::path>> include_chains;
    /// Per file: its source text as read (the validation checks re-read frontmatter from it).
    std::map<std::filesystem::path, std::string> file_texts;
    /// Canonical paths in first-visit order, root template first.
    std::vector<std::filesystem::path> resolved_files;
    /// Manifest, composition hash and resolved files of the expansion.
    CompositionFingerprint composition_sha256;
};

/// The fixed inputs of one step of the recursion, and the state it writes to.
struct ExpansionContext {
    const std::filesystem::path& root;
    std::span<const std::filesystem::path> allowed_roots;
    std::uint16_t max_depth;
    std::uint16_t depth;
    std::vector<std::filesystem::path>& chain;
    ExpansionState& state;

    /// Resolves the directive target `path_text` found in `including_file` (next to that file
    /// first, then under the root when not found there), records the edge and appends the target's
    /// expansion to `out`.
    std::expected<void, ComposeError> expand_candidate(std::string_view path_text,
                                                       const std::filesystem::path& including_file,
                                                       std::string& out) const;
};

/// Expands the file at canonical path `file` (depth, cycle and read checks; first-visit recording)
/// and appends its expanded body to `out`.
std::expected<void, ComposeError> expand_file(const std::filesystem::path& file,
                                              const ExpansionContext& context, std::string& out);

/// Expands `template_path` (relative to `root`, or absolute) and returns the text with the
/// state. `root` and the policy's allowed roots must be canonical.
std::expected<std::pair<std::string, ExpansionState>, ComposeError> expand(
    const std::filesystem::path& template_path, const std::filesystem::path& root,
    const ComposePolicy& policy);

/// `expand`, then the composition fingerprint of what was expanded.
std::expected<ExpandedTemplate, ComposeError> expand_includes(const std::filesystem::path& template_path,
                                                              const std::filesystem::path& root,
                                                              const ComposePolicy& policy);

/// The error for a directive whose target is computed at render time, or a malformed one.
ComposeError dynamic_include_error(const std::vector<std::filesystem::path>& include_chain);

}  // namespace zelk::composer
