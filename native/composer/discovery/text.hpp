#pragma once
// Small text helpers of the discovery scanners.

#include <string_view>

namespace zelk::composer::discovery {

/// `text` without leading and trailing Unicode White_Space.
std::string_view trim(std::string_view text);

/// `text` without leading Unicode White_Space.
std::string_view trim_start(std::string_view text);

/// Whether `c` is an ASCII letter, digit or '_'.
constexpr bool is_ascii_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

/// Whether `c` is an ASCII letter.
constexpr bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace zelk::composer::discovery
