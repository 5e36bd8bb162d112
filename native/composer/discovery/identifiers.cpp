#include "composer/discovery/identifiers.hpp"

#include <algorithm>
#include <array>

#include "composer/discovery/text.hpp"

namespace zelk::composer::discovery {
namespace {

constexpr std::array<std::string_view, 20> kKeywords = {
    "if",   "in",    "or",    "for",   "set",   "not",    "and",    "else",     "elif",     "true",
    "none", "endif", "false", "block", "macro", "endfor", "filter", "endblock", "endmacro", "endfilter",
};

constexpr std::array<std::string_view, 10> kLoopAttributes = {
    "loop",       "loop.index", "loop.index0", "loop.revindex", "loop.revindex0",
    "loop.first", "loop.last",  "loop.length", "loop.depth",    "loop.depth0",
};

constexpr bool is_word_char(char c) {
    return is_ascii_word_char(c) || c == '-' || c == '.';
}

constexpr bool is_filter_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Whether the first "loop.cycle" of the masked text is a call.
bool loop_cycle_is_called(std::string_view masked) {
    const std::size_t at = masked.find("loop.cycle");
    if (at == std::string_view::npos) {
        return false;
    }
    return trim_start(masked.substr(at + 10)).starts_with('(');
}

}  // namespace

bool is_keyword(std::string_view word) {
    return std::find(kKeywords.begin(), kKeywords.end(), word) != kKeywords.end();
}

std::string mask_expression(std::string_view expression) {
    std::string masked(expression);
    // String literals, quotes included; an unterminated literal runs to the end.
    for (std::size_t i = 0; i < masked.size(); ++i) {
        const char quote = masked[i];
        if (quote != '"' && quote != '\'') {
            continue;
        }
        std::size_t j = i + 1;
        while (j < masked.size() && masked[j] != quote) {
            j += masked[j] == '\\' ? 2 : 1;
        }
        const std::size_t end = std::min(j + 1, masked.size());
        std::fill(masked.begin() + static_cast<std::ptrdiff_t>(i),
                  masked.begin() + static_cast<std::ptrdiff_t>(end), ' ');
        i = end - 1;
    }
    // Filter names; their arguments stay visible.
    for (std::size_t i = masked.find('|'); i != std::string::npos; i = masked.find('|', i + 1)) {
        std::size_t j = i + 1;
        while (j < masked.size() && is_filter_space(masked[j])) {
            ++j;
        }
        while (j < masked.size() && is_ascii_word_char(masked[j])) {
            masked[j++] = ' ';
        }
    }
    return masked;
}

void collect_identifiers(std::string_view expression, const ScopeStack& scopes, TokenSet& tokens) {
    const std::string masked = mask_expression(expression);
    const bool in_loop = scopes.depth() > 1;
    std::optional<bool> cycle_called;  // computed once, on the first "loop.cycle"
    std::size_t i = 0;
    while (i < masked.size()) {
        if (!is_word_char(masked[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < masked.size() && is_word_char(masked[i])) {
            ++i;
        }
        const std::string_view word = std::string_view(masked).substr(start, i - start);
        if (is_keyword(word) || std::none_of(word.begin(), word.end(), is_ascii_letter)) {
            continue;
        }
        if (scopes.excludes(word.substr(0, word.find('.')))) {
            continue;
        }
        if (in_loop) {
            if (std::find(kLoopAttributes.begin(), kLoopAttributes.end(), word) != kLoopAttributes.end()) {
                continue;
            }
            if (word == "loop.cycle") {
                if (!cycle_called) {
                    cycle_called = loop_cycle_is_called(masked);
                }
                if (*cycle_called) {
                    continue;
                }
            }
        }
        // Words are made of name characters and hold a letter, so they are always valid names.
        if (auto name = VariableName::create(word)) {
            tokens.insert(std::move(*name));
        }
    }
}

}  // namespace zelk::composer::discovery
