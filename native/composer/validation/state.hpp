#pragma once
// Everything known about a composition's variables before it is checked or rendered: final values
// and their sources, frontmatter declarations of every expanded file, and the referenced tokens.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "composer/discovery.hpp"
#include "composer/include/expansion.hpp"
#include "composer/types/input_value.hpp"
#include "composer/types/names.hpp"
#include "composer/types/request.hpp"

namespace zelk::composer {

/// The validation state of one run. Maps are ordered by name (bytes) or path (components).
struct ValidationState {
    /// The value each known variable ends up with.
    VariableMap values;
    /// Where each value came from.
    std::map<VariableName, VariableSource> sources;
    /// Every required name or dotted path, with the file that first declared it.
    std::map<VariableName, std::filesystem::path> required;
    /// The include chain of that declaring file.
    std::map<VariableName, std::vector<std::filesystem::path>> required_include_chains;
    /// The file whose frontmatter supplied a default; nullopt for caller-supplied defaults.
    std::map<VariableName, std::optional<std::filesystem::path>> default_origins;
    /// For defaults of the root template's blocks: the passes whose block declares them.
    std::map<VariableName, std::set<std::uint8_t>> default_passes;
    /// Every name any frontmatter declares (required or default), plus the built-in names.
    TokenSet declared;
    /// The tokens the expanded text references.
    TokenSet referenced;
    /// The source text of every expanded file.
    std::map<std::filesystem::path, std::string> file_texts;
    /// Per pass of the root template: the tokens of that pass (empty in the single-pass case).
    std::map<std::uint8_t, TokenSet> tokens_by_pass;
    /// Per pass of the root template: the names declared for that pass.
    std::map<std::uint8_t, TokenSet> declared_by_pass;

    /// Whether the per-pass maps apply (the root template has frontmatter and no custom
    /// delimiters replaced its tokens).
    bool is_multi_pass() const { return !tokens_by_pass.empty(); }

    bool operator==(const ValidationState&) const = default;
};

/// Builds the state of `request` over `expanded`, whose first resolved file is the root template.
/// Precedence per name: explicit input > environment > template input default > the first
/// frontmatter default in expanded-file order. Never fails.
ValidationState collect_validation_state(const ComposeRequest& request, const ExpandedTemplate& expanded);

/// Re-discovers `referenced` with custom variable delimiters and drops the per-pass maps, so the
/// single-pass rules apply.
void apply_custom_delimiters(ValidationState& state, const ExpandedTemplate& expanded,
                             const ExpressionDelimiters& delimiters);

}  // namespace zelk::composer
