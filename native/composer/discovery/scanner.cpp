#include "composer/discovery/scanner.hpp"

#include <algorithm>

#include "composer/discovery/text.hpp"

namespace zelk::composer::discovery {

namespace {

bool is_single_char_run(std::string_view needle) {
    return needle.find_first_not_of(needle.front()) == std::string_view::npos;
}

// The run rule for a delimiter made of one repeated character (all brace delimiters). Within a
// run of R such characters starting at s the skipped matches sit at s, s+k, s+2k, ...; the one
// kept is the last, and only when R is a multiple of k. Each run is looked at once, so the search
// is linear however long the delimiter or the runs are.
std::size_t find_char_run(std::string_view haystack, char c, std::size_t k, std::size_t from,
                          std::size_t limit) {
    std::size_t start = from;
    while (start < limit) {
        start = haystack.find(c, start);
        if (start == std::string_view::npos || start >= limit) {
            return std::string_view::npos;
        }
        std::size_t end = haystack.find_first_not_of(c, start);
        if (end == std::string_view::npos) {
            end = haystack.size();
        }
        const std::size_t run = end - start;
        if (run >= k && run % k == 0) {
            const std::size_t at = end - k;
            return at < limit ? at : std::string_view::npos;
        }
        start = end;
    }
    return std::string_view::npos;
}

}  // namespace

std::size_t find_run_delimiter(std::string_view haystack, std::string_view needle, std::size_t from,
                               std::size_t limit) {
    limit = std::min(limit, haystack.size());
    if (needle.empty() || limit <= from) {
        return std::string_view::npos;
    }
    if (is_single_char_run(needle)) {
        return find_char_run(haystack, needle.front(), needle.size(), from, limit);
    }
    // Matches must start before `limit`, so the window ends `needle.size() - 1` bytes past it.
    const std::size_t window_end = std::min(haystack.size(), limit + needle.size() - 1);
    const std::string_view window = haystack.substr(0, window_end);
    std::size_t at = window.find(needle, from);
    while (at != std::string_view::npos) {
        const std::size_t after = at + needle.size();
        if (after >= haystack.size() || haystack[after] != needle.front()) {
            return at;
        }
        at = window.find(needle, after);
    }
    return std::string_view::npos;
}

std::string_view strip_whitespace_control(std::string_view inner) {
    if (inner.starts_with('-')) {
        inner.remove_prefix(1);
    }
    if (inner.ends_with('-') || inner.ends_with('+')) {
        inner.remove_suffix(1);
    }
    return trim(inner);
}

TemplateWalker::TemplateWalker(std::string_view text, std::string_view open, std::string_view close)
    : text_(text), open_(open), close_(close) {}

std::optional<std::size_t> TemplateWalker::next_variable(std::size_t limit) const {
    const std::size_t at = find_run_delimiter(text_, open_, position_, limit);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return at;
}

std::optional<Delimited> TemplateWalker::next() {
    if (done_) {
        return std::nullopt;
    }
    if (!block_known_ || (next_block_ != std::string_view::npos && next_block_ < position_)) {
        next_block_ = text_.find("{%", position_);
        block_known_ = true;
    }
    // A variable wins at an equal position, so only candidates up to the block matter; bounding
    // the search there keeps each stretch of text searched once.
    const std::size_t limit = next_block_ == std::string_view::npos ? text_.size() : next_block_ + 1;
    const std::optional<std::size_t> variable = next_variable(limit);
    if (variable) {
        const std::size_t inner_start = *variable + open_.size();
        const std::size_t end = find_run_delimiter(text_, close_, inner_start, text_.size());
        if (end == std::string_view::npos) {
            done_ = true;
            return std::nullopt;
        }
        position_ = end + close_.size();
        return Delimited{Delimited::Kind::Variable,
                         strip_whitespace_control(text_.substr(inner_start, end - inner_start))};
    }
    if (next_block_ == std::string_view::npos) {
        done_ = true;
        return std::nullopt;
    }
    const std::size_t inner_start = next_block_ + 2;
    const std::size_t end = text_.find("%}", inner_start);
    if (end == std::string_view::npos) {
        done_ = true;
        return std::nullopt;
    }
    position_ = end + 2;
    return Delimited{Delimited::Kind::Block,
                     strip_whitespace_control(text_.substr(inner_start, end - inner_start))};
}

}  // namespace zelk::composer::discovery
