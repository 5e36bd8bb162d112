#pragma once
// Pulling variable words out of one expression or statement.

#include <set>
#include <string>
#include <string_view>

#include "composer/discovery/scope.hpp"
#include "composer/types/names.hpp"

namespace zelk::composer::discovery {

/// Sorted, duplicate-free variable names.
using TokenSet = std::set<VariableName>;

/// Whether `word` is one of the Jinja keywords that are never tokens.
bool is_keyword(std::string_view word);

/// `expression` with string literals and filter names replaced by spaces.
std::string mask_expression(std::string_view expression);

/// Adds to `tokens` every word of `expression` that names a variable: not a keyword, holding
/// a letter, not bound by an open scope, and not a loop attribute while a loop is open.
void collect_identifiers(std::string_view expression, const ScopeStack& scopes, TokenSet& tokens);

}  // namespace zelk::composer::discovery
