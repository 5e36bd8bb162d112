#pragma once
// Splitting a template document into stacked frontmatter blocks and body, and reading each
// block into the key table of RawFrontmatter.

#include <cstdint>
#include <expected>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "composer/error.hpp"
#include "composer/frontmatter/model.hpp"

namespace zelk::composer {

/// The blocks and body of a document, as views into its text.
struct DocumentSplit {
    /// The content of each accepted block (between its opening and closing lines).
    std::vector<std::string_view> blocks;
    std::string_view body;
};

/// Splits `text` (a leading byte-order mark dropped) into frontmatter blocks and body. The
/// first block must be closed; a later block is accepted only when it is free of Jinja
/// delimiters and blank or a mapping of frontmatter keys, and a later block that never closes
/// is body text, like any other rejected block.
std::expected<DocumentSplit, ConfigError> split_document(std::string_view text);

/// Reads one block's content into the key table; blank content reads as all keys absent.
/// Invalid YAML, a repeated key, a value of the wrong type or a "pass" outside 0 to 255 is
/// "failed to parse YAML frontmatter" with the reader's error as source.
std::expected<RawFrontmatter, ConfigError> read_raw_frontmatter(std::string_view content);

/// Splits the document, reads and normalises every block and checks the explicit pass
/// numbers; the first failure is returned and nothing partial.
std::expected<ParsedTemplate, ComposeError> parse_template_document(std::string_view text);

/// For every pass of the document, the tokens of its body with delimiters of pass_number + 1
/// braces; passes sharing a number share one entry. No passes give an empty map.
std::map<std::uint8_t, std::set<VariableName>> discover_all_pass_tokens(const ParsedTemplate& parsed);

}  // namespace zelk::composer
