// Escaping selection by template name and the output formatter with the system's own formats.

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "composer/json_text.hpp"
#include "composer/renderer.hpp"
#include "composer/template_ext.hpp"

namespace zelk::composer {
namespace {

using jinja::Value;

bool ascii_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The extension of the final path component, as a path library gives it: trailing separators
// do not end the name, "." and ".." have none, and a leading dot alone does not start one.
std::optional<std::string_view> final_extension(std::string_view name) {
    while (!name.empty() && name.back() == '/') {
        name.remove_suffix(1);
    }
    const std::size_t slash = name.rfind('/');
    const std::string_view component = slash == std::string_view::npos ? name : name.substr(slash + 1);
    if (component == "..") {
        return std::nullopt;
    }
    const std::size_t dot = component.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    return component.substr(dot + 1);
}

// Compact JSON of a value for the legacy format; false when the value has no JSON form (macros
// and other callables), in which case the caller falls back to its display text.
bool append_compact_json(std::string& out, const Value& value, std::size_t depth);

void append_json_key(std::string& out, std::string_view key) {
    out += '"';
    append_json_string_contents(out, key);
    out += '"';
}

bool append_json_key(std::string& out, const Value& key) {
    switch (key.kind()) {
        case Value::Kind::String:
            append_json_key(out, key.str());
            return true;
        // Boolean and integer keys are written as their text, as JSON writers do.
        case Value::Kind::Bool:
            append_json_key(out, key.as_bool() ? "true" : "false");
            return true;
        case Value::Kind::Int:
            append_json_key(out, std::to_string(key.as_int()));
            return true;
        default:
            return false;
    }
}

bool append_json_entries(std::string& out, const auto& entries, std::size_t depth) {
    out += '{';
    bool first = true;
    for (const auto& [key, item] : entries) {
        if (!first) {
            out += ',';
        }
        first = false;
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(key)>, std::string>) {
            append_json_key(out, key);
        } else if (!append_json_key(out, key)) {
            return false;
        }
        out += ':';
        if (!append_compact_json(out, item, depth + 1)) {
            return false;
        }
    }
    out += '}';
    return true;
}

bool append_compact_json(std::string& out, const Value& value, std::size_t depth) {
    // Values are trees (shared immutably), but nesting built inside a template is bounded here
    // so the writer never recurses without end.
    if (depth > jinja::kMaxNesting * 4) {
        return false;
    }
    switch (value.kind()) {
        case Value::Kind::Undefined:
        case Value::Kind::None:
            out += "null";
            return true;
        case Value::Kind::Bool:
            out += value.as_bool() ? "true" : "false";
            return true;
        case Value::Kind::Int:
            out += std::to_string(value.as_int());
            return true;
        case Value::Kind::Float:
            if (!std::isfinite(value.as_float())) {
                out += "null";
            } else {
                out += shortest_float_text(value.as_float());
            }
            return true;
        case Value::Kind::String:
            out += '"';
            append_json_string_contents(out, value.str());
            out += '"';
            return true;
        case Value::Kind::Seq:
        case Value::Kind::Tuple: {
            out += '[';
            bool first = true;
            for (const Value& item : value.items()) {
                if (!first) {
                    out += ',';
                }
                first = false;
                if (!append_compact_json(out, item, depth + 1)) {
                    return false;
                }
            }
            out += ']';
            return true;
        }
        case Value::Kind::Map:
            return append_json_entries(out, value.map_entries().entries(), depth);
        case Value::Kind::Object:
            // Namespaces behave like maps; other objects have no data form.
            if (const auto* attributes = value.obj().attributes()) {
                return append_json_entries(out, *attributes, depth);
            }
            return false;
    }
    return false;
}

// The legacy format: the value's text escaped as the contents of a JSON string.
jinja::Result<void> write_json_legacy(jinja::Output& out, const Value& value) {
    std::string text;
    if (value.is_string()) {
        text = value.str();
    } else if (!append_compact_json(text, value, 0)) {
        text = value.to_string();
    }
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    append_json_string_contents(escaped, text);
    return out.write(escaped);
}

}  // namespace

jinja::AutoEscape auto_escape_callback(std::string_view template_name, JsonEscapeMode mode) {
    const auto extension = final_extension(strip_all_template_suffixes(template_name));
    if (!extension) {
        return jinja::AutoEscape::none();
    }
    for (const std::string_view markup : {"xml", "htm", "html", "xhtml"}) {
        if (ascii_iequals(*extension, markup)) {
            return jinja::AutoEscape::custom(std::string(kHtmlEscapeName));
        }
    }
    if (ascii_iequals(*extension, "json")) {
        return mode == JsonEscapeMode::Legacy ? jinja::AutoEscape::custom(std::string(kJsonLegacyEscapeName))
                                              : jinja::AutoEscape::json();
    }
    return jinja::AutoEscape::none();
}

jinja::Result<void> format_zelk_compose_markup(jinja::Output& out, const jinja::State& state,
                                               const Value& value) {
    // None prints like undefined: empty text, or null under JSON escaping.
    const Value& shown = value.is_none() ? Value() : value;
    const jinja::AutoEscape& escape = state.auto_escape();
    if (escape.kind == jinja::AutoEscape::Kind::Custom) {
        if (escape.custom_name == kJsonLegacyEscapeName) {
            return write_json_legacy(out, shown);
        }
        if (escape.custom_name == kHtmlEscapeName) {
            if (shown.is_safe()) {
                return out.write(shown.str());
            }
            return out.write(xml_char_safe_string(shown.is_string() ? shown.str() : shown.to_string()));
        }
    }
    return jinja::write_default_formatted(out, state, shown);
}

std::string xml_char_safe_string(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    // One pass does both replacements: the entities of the first contain no control characters.
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "&quot;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '\'':
                out += "&#x27;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\t':
            case '\n':
            case '\r':
                out += c;
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "&#xfffd;";
                } else {
                    out += c;
                }
        }
    }
    return out;
}

}  // namespace zelk::composer
