// The renderer's filters and its `get` method for maps.

#include "composer/renderer/filters.hpp"

#include <fmt/format.h>

#include <array>
#include <string>
#include <string_view>

#include "composer/renderer.hpp"

namespace zelk::composer {
namespace {

using jinja::ErrorKind;
using jinja::Result;
using jinja::Value;

// Each filter takes exactly the one string it is applied to.
Result<std::string_view> single_string_argument(const Value& value, const jinja::Args& args) {
    if (!args.positional.empty() || !args.keyword.empty()) {
        return jinja::fail(ErrorKind::TooManyArguments);
    }
    if (!value.is_string()) {
        return jinja::fail(ErrorKind::InvalidOperation, "value is not a string");
    }
    return std::string_view(value.str());
}

// Replaces single characters by texts; all characters replaced are ASCII, so UTF-8 stays intact.
template <typename Replacement>
std::string replace_chars(std::string_view text, Replacement replacement) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        if (const std::string_view with = replacement(c); !with.empty()) {
            out += with;
        } else {
            out += c;
        }
    }
    return out;
}

// Backslash first in effect: each character is looked at once, so inserted backslashes are never
// doubled again.
std::string_view string_literal_escape(char c) {
    switch (c) {
        case '\\':
            return "\\\\";
        case '"':
            return "\\\"";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        default:
            return {};
    }
}

std::string cdata_escape(std::string_view text) {
    static constexpr std::string_view kEnd = "]]>";
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t at = text.find(kEnd); at != std::string_view::npos; at = text.find(kEnd, start)) {
        out.append(text.substr(start, at - start));
        out += "]]]]><![CDATA[>";
        start = at + kEnd.size();
    }
    out.append(text.substr(start));
    return out;
}

// The UTF-8 forms of the Unicode White_Space characters.
constexpr std::array<std::string_view, 25> kWhiteSpace = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

std::string_view trim_white_space(std::string_view text) {
    for (bool trimmed = true; trimmed && !text.empty();) {
        trimmed = false;
        for (const std::string_view space : kWhiteSpace) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                trimmed = true;
                break;
            }
        }
    }
    for (bool trimmed = true; trimmed && !text.empty();) {
        trimmed = false;
        for (const std::string_view space : kWhiteSpace) {
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                trimmed = true;
                break;
            }
        }
    }
    return text;
}

// Lines that a frontmatter reader would take as a block marker get escaped markers; the white
// space around a marker is kept.
std::string frontmatter_safe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        const std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
        const std::string_view content = trim_white_space(line);
        if (content == "---" || content == "...") {
            const std::size_t at = static_cast<std::size_t>(content.data() - line.data());
            out.append(line.substr(0, at));
            out += content == "---" ? "\\-\\-\\-" : "\\.\\.\\.";
            out.append(line.substr(at + content.size()));
        } else {
            out.append(line);
        }
        if (end == std::string_view::npos) {
            break;
        }
        out += '\n';
        start = end + 1;
    }
    return out;
}

// A filter from a text transformation, marking the result safe or not.
template <std::string (*Transform)(std::string_view), bool Safe>
Result<Value> text_filter(jinja::State&, const Value& value, const jinja::Args& args) {
    auto text = single_string_argument(value, args);
    if (!text) {
        return std::unexpected(std::move(text.error()));
    }
    return Value::from_string(Transform(*text), Safe);
}

std::string turtle_escape(std::string_view text) {
    return replace_chars(text, string_literal_escape);
}

std::string md_table_safe(std::string_view text) {
    return replace_chars(text, [](char c) -> std::string_view {
        switch (c) {
            case '\n':
            case '\r':
                return " ";
            case '|':
                return "\\|";
            default:
                return {};
        }
    });
}

// A double-quoted YAML scalar. Beyond the escapes of a string literal, characters that YAML
// does not allow in a document (other C0 controls, DEL, C1 controls, U+FFFE, U+FFFF) and NEL,
// which YAML readers fold into a space, are written as escapes, so the result always reads back
// as the original text.
std::string yaml_safe(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (const std::string_view with = string_literal_escape(text[i]); !with.empty()) {
            out += with;
        } else if (byte < 0x20 || byte == 0x7f) {
            out += fmt::format("\\x{:02X}", byte);
        } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            // U+0080 to U+009F: the second byte is the code point's low byte.
            out += fmt::format("\\x{:02X}", static_cast<unsigned char>(text[++i]));
        } else if (text.substr(i, 3) == "\xEF\xBF\xBE" || text.substr(i, 3) == "\xEF\xBF\xBF") {
            out += text[i + 2] == '\xBE' ? "\\uFFFE" : "\\uFFFF";
            i += 2;
        } else {
            out += text[i];
        }
    }
    out += '"';
    return out;
}

}  // namespace

namespace renderer_detail {

void register_filters(jinja::Environment& env) {
    env.add_filter("cdata_escape", text_filter<cdata_escape, true>);
    env.add_filter("turtle_escape", text_filter<turtle_escape, false>);
    env.add_filter("md_table_safe", text_filter<md_table_safe, false>);
    env.add_filter("xml_char_safe", text_filter<xml_char_safe_string, true>);
    env.add_filter("frontmatter_safe", text_filter<frontmatter_safe, true>);
    env.add_filter("yaml_safe", text_filter<yaml_safe, false>);
}

}  // namespace renderer_detail

Result<Value> map_get_unknown_method_callback(jinja::State&, const Value& receiver, std::string_view method,
                                              const jinja::Args& args) {
    const std::size_t count = args.positional.size();
    if (method == "get" && receiver.kind() == Value::Kind::Map && args.keyword.empty() &&
        (count == 1 || count == 2)) {
        auto found = receiver.get_item(args.positional[0]);
        if (!found) {
            return found;
        }
        if (found->is_undefined()) {
            return count == 2 ? args.positional[1] : Value();
        }
        return found;
    }
    return jinja::fail(ErrorKind::UnknownMethod,
                       fmt::format("{} has no method named {}", receiver.type_name(), method));
}

}  // namespace zelk::composer
