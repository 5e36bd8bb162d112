#pragma once
// The composition pipeline: from a request to the final prompt text with its provenance. Resolve,
// expand includes, validate, add the built-in variables, render in one pass or in several stacked
// passes with growing brace delimiters, then append the guidance block and user prompt.

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "composer/diagnostics/record.hpp"
#include "composer/error/compose.hpp"
#include "composer/frontmatter/model.hpp"
#include "composer/include/expansion.hpp"
#include "composer/include/fingerprint.hpp"
#include "composer/observer.hpp"
#include "composer/resolver.hpp"
#include "composer/types/input_value.hpp"
#include "composer/types/names.hpp"
#include "composer/types/request.hpp"

namespace zelk::composer {

/// The outcome of a successful composition.
struct ComposeResult {
    /// The assembled output.
    std::string rendered_text;
    ResolveResult resolve_result;
    /// The expansion's files, root template first.
    std::vector<std::filesystem::path> resolved_files;
    /// Where each variable's value came from.
    std::map<VariableName, VariableSource> variable_sources;
    /// The warnings (and infos) of validation.
    std::vector<Diagnostic> warnings;
    /// The expansion's fingerprint; always present after a successful expansion.
    std::optional<CompositionFingerprint> composition_sha256;
    /// A pass output of a multi-pass JSON template failed the JSON check.
    bool rendered_json_invalid = false;
    /// The first such pass; meaningful only when `rendered_json_invalid` is set.
    std::uint8_t invalid_json_pass = 0;

    bool operator==(const ComposeResult&) const = default;
};

/// The values of one pass: its number and the variables it renders with.
struct RenderContext {
    std::uint8_t pass_number = 1;
    VariableMap values;

    bool operator==(const RenderContext&) const = default;
};

/// The text of a multi-pass rendering and the outcome of its JSON check.
struct MultiPassOutput {
    std::string text;
    bool rendered_json_invalid = false;
    /// Meaningful only when `rendered_json_invalid` is set.
    std::uint8_t invalid_json_pass = 0;

    bool operator==(const MultiPassOutput&) const = default;
};

/// `compose_with_observer` with an observer that does nothing.
std::expected<ComposeResult, ComposeError> compose(const ComposeRequest& request);

/// Resolves the template, expands its includes (telling `observer` each outcome) and goes on with
/// `compose_expanded`. The request's root must be canonical.
std::expected<ComposeResult, ComposeError> compose_with_observer(const ComposeRequest& request,
                                                                 CompositionObserver& observer);

/// Validates, adds the built-in variables, renders (one pass for fewer than two frontmatter blocks
/// of the root template, otherwise one per block or per policy pass) and assembles the output.
std::expected<ComposeResult, ComposeError> compose_expanded(const ComposeRequest& request,
                                                            CompositionObserver& observer,
                                                            ResolveResult resolve_result,
                                                            ExpandedTemplate expanded);

/// Renders the blocks of `parsed` over its body with one context per block: template name "inline",
/// mode `Auto`, no JSON check.
std::expected<std::string, ComposeError> render_all(const ParsedTemplate& parsed,
                                                    const std::vector<RenderContext>& contexts);

/// Renders pass after pass: pass p uses p + 1 braces as variable delimiters, sees expressions meant
/// for later passes protected in raw blocks, and renders with its block's defaults overridden by
/// its context. Unless `skip_json_check`, each pass output is checked to be JSON and the first
/// failing pass is reported (not an error). The context count and each context's pass number
/// must match the blocks: otherwise an `ERR_CONFIG_PARSE` config error.
std::expected<MultiPassOutput, ComposeError> render_all_with_observer(
    const ParsedTemplate& parsed, const std::vector<RenderContext>& contexts,
    const std::string& template_name, CompositionObserver& observer, JsonEscapeMode mode,
    bool skip_json_check);

/// `text` with every expression of the next pass's delimiters (`brace_count` + 1 braces), from its
/// opening braces through the first closing ones, wrapped in a raw block so this pass leaves it
/// alone. An opening without a closing is left as it is; block tags are never protected.
std::string protect_higher_braces(std::string_view text, std::size_t brace_count);

/// The rendered text without trailing Unicode white space, then the guidance block and the user
/// prompt when present and not empty, the parts joined by blank lines. Nothing else is trimmed.
std::string assemble_output(std::string_view rendered_text, const std::optional<std::string>& guidance_block,
                            const std::optional<std::string>& user_prompt);

}  // namespace zelk::composer
