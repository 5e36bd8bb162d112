// The text steps of composition that need no engine: protecting later passes and assembling.

#include <cstdint>
#include <string>
#include <string_view>

#include "composer/composer.hpp"

namespace zelk::composer {

namespace {

// The Unicode White_Space property, the characters a caller sees as trailing blank space.
bool is_unicode_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// The length of `text` without trailing white space. Only the encodings of white-space characters
// are decoded: every one is one to three bytes long, and anything else ends the scan.
std::size_t trimmed_end(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
        if (byte(end - 1) < 0x80) {
            if (!is_unicode_white_space(byte(end - 1))) {
                break;
            }
            end -= 1;
        } else if (end >= 2 && byte(end - 2) >= 0xC2 && byte(end - 2) <= 0xDF &&
                   is_unicode_white_space(((byte(end - 2) & 0x1FU) << 6) | (byte(end - 1) & 0x3FU))) {
            end -= 2;
        } else if (end >= 3 && (byte(end - 3) & 0xF0U) == 0xE0 && (byte(end - 2) & 0xC0U) == 0x80 &&
                   is_unicode_white_space(((byte(end - 3) & 0x0FU) << 12) | ((byte(end - 2) & 0x3FU) << 6) |
                                          (byte(end - 1) & 0x3FU))) {
            end -= 3;
        } else {
            break;
        }
    }
    return end;
}

}  // namespace

std::string protect_higher_braces(std::string_view text, std::size_t brace_count) {
    const std::string open(brace_count + 1, '{');
    const std::string close(brace_count + 1, '}');
    if (text.find(open) == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + 32);
    std::size_t position = 0;
    while (true) {
        const std::size_t start = text.find(open, position);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = text.find(close, start + open.size());
        if (end == std::string_view::npos) {
            break;
        }
        out += text.substr(position, start - position);
        out += "{% raw %}";
        out += text.substr(start, end + close.size() - start);
        out += "{% endraw %}";
        position = end + close.size();
    }
    out += text.substr(position);
    return out;
}

std::string assemble_output(std::string_view rendered_text, const std::optional<std::string>& guidance_block,
                            const std::optional<std::string>& user_prompt) {
    std::string out(rendered_text.substr(0, trimmed_end(rendered_text)));
    for (const auto* part : {&guidance_block, &user_prompt}) {
        if (part->has_value() && !(*part)->empty()) {
            out += "\n\n";
            out += **part;
        }
    }
    return out;
}

}  // namespace zelk::composer
