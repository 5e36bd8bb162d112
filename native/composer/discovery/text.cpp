#include "composer/discovery/text.hpp"

#include <cstddef>
#include <cstdint>

namespace zelk::composer::discovery {
namespace {

bool is_white_space(std::uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// Decodes the well-formed character starting at `i`; returns its length, 0 if not decodable.
std::size_t decode_at(std::string_view s, std::size_t i, std::uint32_t& c) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = b(i);
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    std::size_t n = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) {
        return 0;
    }
    c = b0 & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        c = (c << 6) | (b(i + k) & 0x3F);
    }
    return n;
}

// Length of the character ending just before `end`, 0 if not decodable.
std::size_t decode_before(std::string_view s, std::size_t end, std::uint32_t& c) {
    std::size_t start = end;
    while (start > 0 && end - start < 4) {
        --start;
        if ((static_cast<unsigned char>(s[start]) & 0xC0) != 0x80) {
            break;
        }
    }
    if (start == end || decode_at(s, start, c) != end - start) {
        return 0;
    }
    return end - start;
}

}  // namespace

std::string_view trim_start(std::string_view text) {
    std::size_t i = 0;
    std::uint32_t c = 0;
    while (i < text.size()) {
        const std::size_t n = decode_at(text, i, c);
        if (n == 0 || !is_white_space(c)) {
            break;
        }
        i += n;
    }
    return text.substr(i);
}

std::string_view trim(std::string_view text) {
    text = trim_start(text);
    std::size_t end = text.size();
    std::uint32_t c = 0;
    while (end > 0) {
        const std::size_t n = decode_before(text, end, c);
        if (n == 0 || !is_white_space(c)) {
            break;
        }
        end -= n;
    }
    return text.substr(0, end);
}

}  // namespace zelk::composer::discovery
