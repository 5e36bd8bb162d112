// Text helpers of the engine: UTF-8 walking, Python's notion of white space and printability,
// and Python's float repr.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::jinja::text {

// Decodes the code point at `pos` and advances it; invalid bytes decode as U+FFFD, one byte each.
char32_t next_code_point(std::string_view s, std::size_t& pos) noexcept;
void append_utf8(std::string& out, char32_t cp);
// Code points of a UTF-8 text.
std::vector<char32_t> code_points(std::string_view s);
// Number of code points.
std::size_t length(std::string_view s) noexcept;

// Python `str.isspace` for one code point.
bool is_space(char32_t cp) noexcept;
// Python `str.isprintable` for one code point (used by repr).
bool is_printable(char32_t cp) noexcept;

// Python `str.strip()` family with default (white space) or explicit characters.
std::string_view strip(std::string_view s, bool left, bool right) noexcept;
std::string strip_chars(std::string_view s, std::string_view chars, bool left, bool right);

// Python `repr(float)`: "1.0", "1e+20", "0.30000000000000004", "inf", "nan".
void write_float_repr(std::string& out, double f);
// Python `repr(str)` with its quote choice and escapes.
void write_string_repr(std::string& out, std::string_view s);

// Unicode case mapping through ICU.
std::string upper(std::string_view s);
std::string lower(std::string_view s);
// Python `str.title()` / `str.capitalize()` / `str.swapcase`-free subset.
std::string title(std::string_view s);
std::string capitalize(std::string_view s);
// Python character predicates over the whole text (false for empty text).
bool is_alpha_cp(char32_t cp) noexcept;
bool is_digit_cp(char32_t cp) noexcept;
bool is_decimal_cp(char32_t cp) noexcept;
bool is_numeric_cp(char32_t cp) noexcept;
bool is_upper_cp(char32_t cp) noexcept;
bool is_lower_cp(char32_t cp) noexcept;
bool is_cased_cp(char32_t cp) noexcept;
bool is_titlecase_cp(char32_t cp) noexcept;

}  // namespace zelk::jinja::text
