#pragma once
// Stepping from one "{{ ... }}" expression to the next, skipping comments and raw blocks.

#include <cstddef>
#include <optional>
#include <string_view>

namespace zelk::composer {

/// Byte offsets of one expression: its "{{", the inner text's start, and its "}}".
struct VariableExpression {
    std::size_t expression_start;
    std::size_t inner_start;
    std::size_t inner_end;
    bool operator==(const VariableExpression&) const = default;
};

/// Iterates over the "{{ }}" expressions of a text. Unlike discovery there is no run rule:
/// "{{{" is "{{" followed by "{". The next positions of "{{", "{#" and the block openers are
/// remembered between steps, so iterating over a whole text is linear.
class VariableExpressionScanner {
  public:
    /// Starts scanning `text` at byte offset `start`.
    explicit VariableExpressionScanner(std::string_view text, std::size_t start = 0);

    /// The next expression, or nothing when there is none (or the text ends in an unterminated
    /// comment, statement, raw block or expression). Scanning continues after the returned "}}".
    std::optional<VariableExpression> next();

  private:
    std::size_t cached_find(std::size_t& slot, std::string_view needle) const;

    std::string_view text_;
    std::size_t position_;
    std::size_t next_expression_;
    std::size_t next_comment_;
    std::size_t next_spaced_block_;
    std::size_t next_block_;
    bool started_ = false;
};

/// The next expression at or after `start` (see VariableExpressionScanner).
std::optional<VariableExpression> next_jinja_variable_expression(std::string_view text, std::size_t start);

}  // namespace zelk::composer
