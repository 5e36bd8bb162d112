#include "composer/render_check.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>

namespace zelk::composer {

namespace {

// Accepts every event without building anything: only validity and the error position matter.
// The reader keeps its nesting on an explicit stack, so deep input cannot exhaust ours.
class PositionSax final : public nlohmann::json_sax<nlohmann::json> {
  public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override {
        error_position = position;
        return false;
    }

    /// The number of characters the reader had consumed when it failed, the failing one included.
    std::optional<std::size_t> error_position;
};

bool is_continuation_byte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U;
}

}  // namespace

JsonCheckOutcome check_rendered_output_with_meta(const JsonCheckMeta& meta, std::string_view text) {
    if (meta.skip) {
        return JsonCheckValid{std::string(text), meta};
    }
    PositionSax sax;
    const bool parsed = nlohmann::json::sax_parse(text.begin(), text.end(), &sax,
                                                  nlohmann::json::input_format_t::json, /*strict=*/true);
    if (parsed || !sax.error_position) {
        return JsonCheckValid{std::string(text), meta};
    }
    // The reader counts one read past the last byte when the input ends too early; its line and
    // column follow from the characters it consumed, counted the way it counts them.
    const std::size_t consumed = *sax.error_position;
    const bool ended_early = consumed > text.size();
    const std::string_view seen = text.substr(0, std::min(consumed, text.size()));
    const std::size_t last_newline = seen.rfind('\n');
    const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
    const std::uint64_t line = static_cast<std::uint64_t>(std::count(seen.begin(), seen.end(), '\n')) + 1;
    const std::uint64_t column = consumed - line_start;

    std::size_t offset = line_start;
    if (ended_early) {
        offset += column;
    } else if (column > 0) {
        offset += column - 1;
    }
    offset = std::min(offset, text.size());
    while (offset < text.size() && is_continuation_byte(text[offset])) {
        ++offset;
    }

    Diagnostic diagnostic = Diagnostic::create(
        DiagnosticSeverity::Error, DiagnosticCode::ErrRenderJsonMalformed,
        fmt::format("rendered JSON is invalid at line {}, column {}, byte offset {}", line, column, offset));
    diagnostic.line = line;
    diagnostic.column = column;
    diagnostic.path = meta.path;
    return JsonCheckInvalid{line, column, offset, {std::move(diagnostic)}};
}

}  // namespace zelk::composer
