#pragma once
// Typing of YAML scalars: quoted and block scalars are strings; untagged plain scalars are
// typed by the null, boolean, integer and float rules below, anything else is a string.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zelk::composer::yaml {

/// A typed scalar: null, boolean, signed or unsigned integer, float (possibly infinite or NaN)
/// or string.
using ScalarValue = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string>;

/// "", "~", "null", "Null", "NULL".
bool is_null_text(std::string_view text);
/// "true", "True", "TRUE" give true; "false", "False", "FALSE" give false.
std::optional<bool> bool_from_text(std::string_view text);

/// The integer rule: an optional sign, then decimal digits, or "0x" hexadecimal, "0o" octal or
/// "0b" binary digits (prefixes in lower case). A decimal text of two or more digits beginning
/// with "0" is not a number. Non-negative values that fit in int64 are int64, larger ones
/// uint64. `std::monostate` means the text is not an integer; an error means it is one that
/// fits in neither 64-bit range.
std::expected<std::variant<std::monostate, std::int64_t, std::uint64_t>, std::string> integer_from_text(
    std::string_view text);

/// The float rule: ".inf" in three spellings with an optional sign, ".nan" in three spellings,
/// or a decimal number with optional fraction and exponent whose value is finite (an underflow
/// reads as zero). A leading-zero digit text is not a float.
std::optional<double> float_from_text(std::string_view text);

/// Types an untagged plain scalar by the first rule that matches. Fails only for integers
/// outside both 64-bit ranges.
std::expected<ScalarValue, std::string> type_plain_scalar(std::string_view text);

}  // namespace zelk::composer::yaml
