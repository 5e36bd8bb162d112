#pragma once
// The JSON check of rendered output: whether a JSON template's pass output is still one JSON value,
// and where the first error is when it is not.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "composer/diagnostics/record.hpp"

namespace zelk::composer {

/// How a check is run: the path its diagnostic names (the template name) and whether it is skipped.
struct JsonCheckMeta {
    std::filesystem::path path;
    bool skip = false;

    bool operator==(const JsonCheckMeta&) const = default;
};

/// The text parsed as JSON (or the check was skipped).
struct JsonCheckValid {
    std::string text;
    JsonCheckMeta meta;

    bool operator==(const JsonCheckValid&) const = default;
};

/// The text is not one JSON value: where the reader stopped, and the one diagnostic saying so.
struct JsonCheckInvalid {
    /// 1-based, as the reader counts them.
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    /// Byte offset into the text, on a character boundary and at most the text length.
    std::size_t byte_offset = 0;
    std::vector<Diagnostic> diagnostics;

    bool operator==(const JsonCheckInvalid&) const = default;
};

using JsonCheckOutcome = std::variant<JsonCheckValid, JsonCheckInvalid>;

/// Checks that `text` is exactly one JSON value, white space around it allowed. On failure the
/// diagnostic is an error `ERR_RENDER_JSON_MALFORMED` naming the line, column and byte offset.
/// For input that ends too early the offset is the line start plus the column, otherwise the line
/// start plus the column minus one.
JsonCheckOutcome check_rendered_output_with_meta(const JsonCheckMeta& meta, std::string_view text);

}  // namespace zelk::composer
