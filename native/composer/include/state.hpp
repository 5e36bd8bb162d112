#pragma once
// What one include expansion collects: files, frontmatter, chains, and the manifest bookkeeping.

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "composer/frontmatter/model.hpp"
#include "sha/manifest.hpp"

namespace zelk::composer {

/// Sources already recorded as manifest nodes.
using NodeIndex = std::set<sha::CanonicalSource>;
/// Edges recorded so far per including file.
using OccurrenceCounters = std::map<sha::CanonicalSource, std::uint32_t>;

/// Everything gathered during one expansion. Per-file facts are written on a file's first visit;
/// edges once per include site, repeated sites included.
struct ExpansionState {
    /// Canonical paths in the order files were first entered.
    std::vector<std::filesystem::path> resolved_files;
    /// Per file, in the same order: its frontmatter blocks.
    std::vector<std::pair<std::filesystem::path, std::vector<Frontmatter>>> frontmatters;
    std::vector<sha::ResolvedTemplateNode> nodes;
    std::vector<sha::ResolvedIncludeEdge> edges;
    /// The include chain as it stood after the latest step (hashing errors report it).
    std::vector<std::filesystem::path> current_chain;
    std::set<std::filesystem::path> expanded;
    /// Per file: the chain with which it was first entered, ending with the file itself.
    std::map<std::filesystem::path, std::vector<std::filesystem::path>> include_chains;
    /// Per file: its text, so that a repeated include reads nothing again.
    std::map<std::filesystem::path, std::string> source_cache;
    NodeIndex node_index;
    OccurrenceCounters occurrence_counters;
};

}  // namespace zelk::composer
