#pragma once
// Text-level discovery of the variables a template reads, without the template engine.

#include <cstdint>
#include <string>
#include <string_view>

#include "composer/discovery/identifiers.hpp"
#include "composer/types/names.hpp"

namespace zelk::composer {

using discovery::TokenSet;

/// The variable-expression delimiters of one pass (blocks always use "{%" "%}").
struct ExpressionDelimiters {
    std::string open;
    std::string close;

    /// Copies both texts; nothing is checked.
    static ExpressionDelimiters with_delimiters(std::string open, std::string close) {
        return ExpressionDelimiters{std::move(open), std::move(close)};
    }
    bool operator==(const ExpressionDelimiters&) const = default;
};

/// Tokens of a one-pass template: `discover_tokens_with_brace_count(text, 2)`.
TokenSet discover_tokens(std::string_view text);

/// Tokens of pass `brace_count - 1`, whose variables are written with `brace_count` braces.
/// Empty for 0 or 1. A count longer than the text cannot match any expression, so only block
/// statements contribute, and no delimiter of that length is ever built.
TokenSet discover_tokens_with_brace_count(std::string_view text, std::uint64_t brace_count);

/// Tokens read by `text` with the given variable delimiters; empty if either is empty.
TokenSet discover_tokens_with_delimiters(std::string_view text, std::string_view open,
                                         std::string_view close);

/// Same as `discover_tokens_with_delimiters(text, delimiters.open, delimiters.close)`.
TokenSet discover_tokens_with_delimiters(std::string_view text, const ExpressionDelimiters& delimiters);

/// Whether some block statement of `text` (variables written "{{ }}") is a `for` loop over exactly
/// the bare variable `name`, as in `{% for x in items %}`.
bool has_bare_for_loop_over(std::string_view text, std::string_view name);

}  // namespace zelk::composer
