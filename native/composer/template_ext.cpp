#include "composer/template_ext.hpp"

#include <array>
#include <optional>
#include <string>

#include "composer/utf8.hpp"

namespace zelk::composer {
namespace {

namespace fs = std::filesystem;

// Tried in this order; the first that matches is removed and the scan starts again.
constexpr std::array<std::string_view, 3> kTemplateSuffixes = {".j2", ".jinja2", ".jinja"};

bool equals_ascii_case_insensitive(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool is_char_boundary(std::string_view text, std::size_t pos) {
    return pos >= text.size() || (static_cast<unsigned char>(text[pos]) & 0xC0) != 0x80;
}

bool ends_with_suffix(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    const std::size_t start = text.size() - suffix.size();
    return is_char_boundary(text, start) && equals_ascii_case_insensitive(text.substr(start), suffix);
}

// The final component as a file name, ignoring trailing separators; none for a root, "." or "..".
std::optional<std::string> file_name(const fs::path& path) {
    std::optional<std::string> last;
    for (const auto& component : path.relative_path()) {
        if (!component.empty()) {
            last = component.native();
        }
    }
    if (!last || *last == "." || *last == "..") {
        return std::nullopt;
    }
    return last;
}

std::optional<std::string_view> extension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    return name.substr(dot + 1);
}

}  // namespace

std::string_view strip_all_template_suffixes(std::string_view text) {
    bool stripped = true;
    while (stripped) {
        stripped = false;
        for (std::string_view suffix : kTemplateSuffixes) {
            if (ends_with_suffix(text, suffix)) {
                text.remove_suffix(suffix.size());
                stripped = true;
                break;
            }
        }
    }
    return text;
}

bool is_json_template_path(const fs::path& path) {
    const auto name = file_name(path);
    if (!name || utf8_first_invalid(*name).has_value()) {
        return false;
    }
    const auto ext = extension(strip_all_template_suffixes(*name));
    return ext && equals_ascii_case_insensitive(*ext, "json");
}

}  // namespace zelk::composer
