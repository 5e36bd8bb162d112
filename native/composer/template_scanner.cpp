#include "composer/template_scanner.hpp"

#include <algorithm>

#include "composer/discovery/text.hpp"

namespace zelk::composer {
namespace {

constexpr std::size_t npos = std::string_view::npos;

}  // namespace

VariableExpressionScanner::VariableExpressionScanner(std::string_view text, std::size_t start)
    : text_(text),
      position_(start),
      next_expression_(0),
      next_comment_(0),
      next_spaced_block_(0),
      next_block_(0) {}

// The first `needle` at or after the position, reusing the remembered one while it still lies ahead.
std::size_t VariableExpressionScanner::cached_find(std::size_t& slot, std::string_view needle) const {
    if (!started_ || (slot != npos && slot < position_)) {
        slot = text_.find(needle, position_);
    }
    return slot;
}

std::optional<VariableExpression> VariableExpressionScanner::next() {
    while (position_ < text_.size()) {
        const std::size_t expression = cached_find(next_expression_, "{{");
        const std::size_t comment = cached_find(next_comment_, "{#");
        const std::size_t spaced_block = cached_find(next_spaced_block_, "{% ");
        const std::size_t any_block = cached_find(next_block_, "{%");
        started_ = true;
        // "{% " anywhere ahead takes precedence over an earlier bare "{%".
        const std::size_t block = spaced_block != npos ? spaced_block : any_block;
        const std::size_t first = std::min({expression, comment, block});
        if (first == npos) {
            return std::nullopt;
        }
        if (first == comment) {
            const std::size_t end = text_.find("#}", comment + 2);
            if (end == npos) {
                return std::nullopt;
            }
            position_ = end + 2;
            continue;
        }
        if (first == block) {
            const std::size_t end = text_.find("%}", block + 2);
            if (end == npos) {
                return std::nullopt;
            }
            position_ = end + 2;
            if (discovery::trim(text_.substr(block + 2, end - block - 2)) == "raw") {
                const std::size_t endraw = text_.find("{% endraw %}", position_);
                if (endraw == npos) {
                    return std::nullopt;
                }
                position_ = endraw + 12;
            }
            continue;
        }
        const std::size_t end = text_.find("}}", expression + 2);
        if (end == npos) {
            return std::nullopt;
        }
        position_ = end + 2;
        return VariableExpression{expression, expression + 2, end};
    }
    return std::nullopt;
}

std::optional<VariableExpression> next_jinja_variable_expression(std::string_view text, std::size_t start) {
    return VariableExpressionScanner(text, start).next();
}

}  // namespace zelk::composer
