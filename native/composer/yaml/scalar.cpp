#include "composer/yaml/scalar.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include <fmt/format.h>

namespace zelk::composer::yaml {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

int digit_value(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

// A decimal text of two or more digits that begins with "0", signed or not: neither integer
// nor float.
bool is_leading_zero_digits(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        text.remove_prefix(1);
    }
    if (text.size() < 2 || text[0] != '0') {
        return false;
    }
    for (char c : text) {
        if (!is_digit(c)) {
            return false;
        }
    }
    return true;
}

// Accumulates `digits` in `base`; nullopt when a character is not a digit of the base or the
// text is empty, `overflow` set when the magnitude exceeds 64 bits.
std::optional<std::uint64_t> magnitude(std::string_view digits, int base, bool& overflow) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    overflow = false;
    for (char c : digits) {
        const int d = digit_value(c, base);
        if (d < 0) {
            return std::nullopt;
        }
        if (__builtin_mul_overflow(value, static_cast<std::uint64_t>(base), &value) ||
            __builtin_add_overflow(value, static_cast<std::uint64_t>(d), &value)) {
            overflow = true;
        }
    }
    return value;
}

// Syntax of a decimal float without its sign: digits, optional fraction, optional exponent,
// at least one mantissa digit.
bool is_decimal_float_syntax(std::string_view text) {
    std::size_t i = 0;
    std::size_t mantissa_digits = 0;
    while (i < text.size() && is_digit(text[i])) {
        ++i;
        ++mantissa_digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && is_digit(text[i])) {
            ++i;
            ++mantissa_digits;
        }
    }
    if (mantissa_digits == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        std::size_t exponent_digits = 0;
        while (i < text.size() && is_digit(text[i])) {
            ++i;
            ++exponent_digits;
        }
        if (exponent_digits == 0) {
            return false;
        }
    }
    return i == text.size();
}

// For a valid decimal float text that does not fit a double: whether its magnitude is below
// one (an underflow, which reads as zero) rather than too large.
bool is_underflow(std::string_view text) {
    const std::size_t e = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = text.substr(e + 1);
        const bool negative = !digits.empty() && digits[0] == '-';
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
            digits.remove_prefix(1);
        }
        for (char c : digits) {
            // Saturate: beyond this the answer no longer depends on the mantissa.
            exponent = std::min<long long>(exponent * 10 + (c - '0'), 1LL << 40);
        }
        if (negative) {
            exponent = -exponent;
        }
    }
    // Decimal exponent of the first non-zero mantissa digit.
    const std::size_t point = mantissa.find('.');
    const std::string_view integer_part = mantissa.substr(0, point);
    const std::string_view fraction_part =
        point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
    long long leading = 0;
    if (const std::size_t first = integer_part.find_first_not_of('0'); first != std::string_view::npos) {
        leading = static_cast<long long>(integer_part.size() - first) - 1;
    } else {
        leading = -static_cast<long long>(fraction_part.find_first_not_of('0')) - 1;
    }
    return leading + exponent < 0;
}

}  // namespace

bool is_null_text(std::string_view text) {
    return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

std::optional<bool> bool_from_text(std::string_view text) {
    if (text == "true" || text == "True" || text == "TRUE") {
        return true;
    }
    if (text == "false" || text == "False" || text == "FALSE") {
        return false;
    }
    return std::nullopt;
}

std::expected<std::variant<std::monostate, std::int64_t, std::uint64_t>, std::string> integer_from_text(
    std::string_view text) {
    using Result = std::variant<std::monostate, std::int64_t, std::uint64_t>;
    std::string_view rest = text;
    bool negative = false;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    int base = 10;
    if (rest.starts_with("0x")) {
        base = 16;
    } else if (rest.starts_with("0o")) {
        base = 8;
    } else if (rest.starts_with("0b")) {
        base = 2;
    }
    if (base != 10) {
        rest.remove_prefix(2);
    } else if (is_leading_zero_digits(rest)) {
        return Result{};
    }
    bool overflow = false;
    const auto value = magnitude(rest, base, overflow);
    if (!value) {
        return Result{};
    }
    constexpr auto kMaxInt64 = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!overflow && negative && *value <= kMaxInt64 + 1) {
        return Result{static_cast<std::int64_t>(0 - *value)};
    }
    if (!overflow && !negative) {
        if (*value <= kMaxInt64) {
            return Result{static_cast<std::int64_t>(*value)};
        }
        return Result{*value};
    }
    return std::unexpected(fmt::format("integer `{}` does not fit in 64 bits", text));
}

std::optional<double> float_from_text(std::string_view text) {
    std::string_view rest = text;
    bool negative = false;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    if (rest == ".inf" || rest == ".Inf" || rest == ".INF") {
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    if (text == ".nan" || text == ".NaN" || text == ".NAN") {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (!is_decimal_float_syntax(rest) || is_leading_zero_digits(text)) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto parsed = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (parsed.ec == std::errc::result_out_of_range) {
        if (!is_underflow(rest)) {
            return std::nullopt;
        }
        value = 0.0;
    } else if (parsed.ec != std::errc() || parsed.ptr != rest.data() + rest.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::expected<ScalarValue, std::string> type_plain_scalar(std::string_view text) {
    if (is_null_text(text)) {
        return ScalarValue{};
    }
    if (const auto flag = bool_from_text(text)) {
        return ScalarValue{*flag};
    }
    auto integer = integer_from_text(text);
    if (!integer) {
        return std::unexpected(std::move(integer.error()));
    }
    if (const auto* number = std::get_if<std::int64_t>(&*integer)) {
        return ScalarValue{*number};
    }
    if (const auto* number = std::get_if<std::uint64_t>(&*integer)) {
        return ScalarValue{*number};
    }
    if (const auto number = float_from_text(text)) {
        return ScalarValue{*number};
    }
    return ScalarValue{std::string(text)};
}

}  // namespace zelk::composer::yaml
