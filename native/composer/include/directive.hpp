#pragma once
// The include directive grammar: a line of its own of the form @<path>, @<{{ 'path' }}> or the
// conditional @<{{ 'a' if cond else 'b' }}>. Anything computed at render time is dynamic.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zelk::composer {

/// The line is ordinary text (it may still be a malformed directive; the expansion decides).
struct NotADirective {
    bool operator==(const NotADirective&) const = default;
};

/// An include of one path, exactly as written between the angle brackets or inside the quotes.
struct StaticInclude {
    std::string path;
    bool operator==(const StaticInclude&) const = default;
};

/// A choice between two literal paths, decided at render time by `condition`.
struct ConditionalInclude {
    std::string condition;
    std::string then_path;
    std::string else_path;
    bool operator==(const ConditionalInclude&) const = default;
};

/// A directive whose target cannot be known before rendering.
struct DynamicInclude {
    bool operator==(const DynamicInclude&) const = default;
};

/// What one line says about including another file.
using IncludeDirective = std::variant<NotADirective, StaticInclude, ConditionalInclude, DynamicInclude>;

/// Classifies one line (its line feed may be included; white space around the line is ignored).
IncludeDirective parse_include_directive(std::string_view line);

/// The text between matching quotes (' or ") of `text` once trimmed, or nothing when the text is
/// not such a literal, is empty between the quotes, or contains a control character, "{{", "}}",
/// " if " or " else ".
std::optional<std::string> quoted_literal(std::string_view text);

/// `text` without Unicode white space at either end.
std::string_view trim_white_space(std::string_view text);

/// `text` without Unicode white space at its start.
std::string_view trim_leading_white_space(std::string_view text);

}  // namespace zelk::composer
