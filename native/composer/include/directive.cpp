#include "composer/include/directive.hpp"

#include <cstdint>

namespace zelk::composer {

namespace {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0d) || c == 0x20 || c == 0x85 || c == 0xa0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200a) || c == 0x2028 || c == 0x2029 || c == 0x202f || c == 0x205f ||
           c == 0x3000;
}

// Decodes the character starting at `i`; returns its length in bytes (1 for a stray byte, which
// is never white space).
std::size_t decode_at(std::string_view text, std::size_t i, char32_t& out) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t length = b0 < 0x80 ? 1 : b0 >= 0xf0 ? 4 : b0 >= 0xe0 ? 3 : b0 >= 0xc0 ? 2 : 1;
    if (i + length > text.size()) {
        length = 1;
    }
    if (length == 1) {
        out = b0 < 0x80 ? b0 : 0xfffd;
        return 1;
    }
    char32_t value = b0 & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
        value = (value << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
    }
    out = value;
    return length;
}

// Length of the white-space character ending just before `end`, or 0.
std::size_t white_space_before(std::string_view text, std::size_t end) {
    std::size_t start = end;
    for (std::size_t back = 1; back <= 4 && back <= end; ++back) {
        if ((static_cast<unsigned char>(text[end - back]) & 0xc0) != 0x80) {
            start = end - back;
            break;
        }
    }
    if (start == end) {
        return 0;
    }
    char32_t c;
    const std::size_t length = decode_at(text, start, c);
    return start + length == end && is_white_space(c) ? length : 0;
}

bool has_control_character(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f) {
            return true;
        }
        // U+0080..U+009F are encoded as C2 80..C2 9F.
        if (byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string_view trim_leading_white_space(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t c;
        const std::size_t length = decode_at(text, i, c);
        if (!is_white_space(c)) {
            break;
        }
        i += length;
    }
    return text.substr(i);
}

std::string_view trim_white_space(std::string_view text) {
    text = trim_leading_white_space(text);
    std::size_t end = text.size();
    while (std::size_t length = white_space_before(text, end)) {
        end -= length;
    }
    return text.substr(0, end);
}

std::optional<std::string> quoted_literal(std::string_view text) {
    text = trim_white_space(text);
    if (text.size() < 3 || (text.front() != '\'' && text.front() != '"') || text.back() != text.front()) {
        return std::nullopt;
    }
    const std::string_view inner = text.substr(1, text.size() - 2);
    if (has_control_character(inner) || inner.find("{{") != std::string_view::npos ||
        inner.find("}}") != std::string_view::npos || inner.find(" if ") != std::string_view::npos ||
        inner.find(" else ") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(inner);
}

IncludeDirective parse_include_directive(std::string_view line) {
    const std::string_view trimmed = trim_white_space(line);
    if (trimmed.size() < 4 || !trimmed.starts_with("@<") || !trimmed.ends_with('>')) {
        return NotADirective{};
    }
    const std::string_view inner = trimmed.substr(2, trimmed.size() - 3);
    const std::string_view braced = trim_white_space(inner);
    if (braced.size() < 4 || !braced.starts_with("{{") || !braced.ends_with("}}")) {
        return StaticInclude{std::string(inner)};
    }
    const std::string_view expression = trim_white_space(braced.substr(2, braced.size() - 4));

    if (const std::size_t if_at = expression.find(" if "); if_at != std::string_view::npos) {
        const std::string_view then_part = expression.substr(0, if_at);
        const std::string_view rest = expression.substr(if_at + 4);
        if (const std::size_t else_at = rest.find(" else "); else_at != std::string_view::npos) {
            const std::string_view condition = trim_white_space(rest.substr(0, else_at));
            auto then_path = quoted_literal(then_part);
            auto else_path = quoted_literal(rest.substr(else_at + 6));
            if (then_path && else_path && !condition.empty()) {
                return ConditionalInclude{std::string(condition), std::move(*then_path),
                                          std::move(*else_path)};
            }
        }
    }
    if (auto literal = quoted_literal(expression)) {
        return StaticInclude{std::move(*literal)};
    }
    return DynamicInclude{};
}

}  // namespace zelk::composer
