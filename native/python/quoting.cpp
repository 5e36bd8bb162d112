#include "python/quoting.hpp"

#include <fmt/format.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "composer/utf8.hpp"

namespace zelk::python {
namespace {

bool needs_unicode_escape(UChar32 c) {
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
            return true;
        case U_SPACE_SEPARATOR:
            return c != 0x20;
        default:
            return u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND) != 0;
    }
}

}  // namespace

std::string python_quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    for (const char c : text) {
        if (c == '\\' || c == '\'') {
            out += '\\';
        }
        out += c;
    }
    out += '\'';
    return out;
}

std::string debug_quote(std::string_view raw) {
    const std::string text = composer::utf8_lossy(raw);
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    std::int32_t i = 0;
    const auto length = static_cast<std::int32_t>(text.size());
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(text.data(), i, length, c);
        switch (c) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case 0:
                out += "\\0";
                continue;
            default:
                break;
        }
        if (needs_unicode_escape(c)) {
            out += fmt::format("\\u{{{:x}}}", static_cast<std::uint32_t>(c));
        } else {
            out.append(text, static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
        }
    }
    out += '"';
    return out;
}

std::string debug_quote_path(const std::filesystem::path& path) {
    return debug_quote(path.native());
}

}  // namespace zelk::python
