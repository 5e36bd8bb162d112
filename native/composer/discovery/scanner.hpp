#pragma once
// The walk over a template's variable expressions and block statements.

#include <cstddef>
#include <optional>
#include <string_view>

namespace zelk::composer::discovery {

/// What the walker found next.
struct Delimited {
    enum class Kind { Variable, Block };
    Kind kind;
    /// The stripped, trimmed text between the delimiters.
    std::string_view inner;
};

/// Steps through `text` from one variable expression or block statement to the next.
/// Variable delimiters follow the run rule (a match directly followed by the delimiter's first
/// character is part of a longer run and skipped); blocks always use "{%" and "%}".
/// The position of the next "{%" is remembered between steps, so a whole walk stays linear.
class TemplateWalker {
  public:
    /// `open` empty means that no variable expression is ever found (blocks still are).
    TemplateWalker(std::string_view text, std::string_view open, std::string_view close);

    /// The next expression or statement, or nothing when the walk is over (end of text or an
    /// unterminated expression or statement).
    std::optional<Delimited> next();

  private:
    std::optional<std::size_t> next_variable(std::size_t limit) const;

    std::string_view text_;
    std::string_view open_;
    std::string_view close_;
    std::size_t position_ = 0;
    std::size_t next_block_ = 0;  // first "{%" at or after position_ (npos: none left)
    bool block_known_ = false;
    bool done_ = false;
};

/// Finds `needle` in `haystack` from `from`, skipping matches directly followed by `needle`'s
/// first character; searches only matches that start before `limit`. npos if none.
std::size_t find_run_delimiter(std::string_view haystack, std::string_view needle, std::size_t from,
                               std::size_t limit);

/// Removes one leading '-', one trailing '-' or '+', then surrounding whitespace.
std::string_view strip_whitespace_control(std::string_view inner);

}  // namespace zelk::composer::discovery
