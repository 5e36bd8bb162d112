#include "composer/path_containment.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace zelk::composer {
namespace {

namespace fs = std::filesystem;

// The components that identify a path: empty names (repeated or trailing separators) and "." after
// the first component carry no meaning and are skipped, so "/w/" and "/w/./" both equal "/w".
std::vector<fs::path::string_type> significant_components(const fs::path& path) {
    std::vector<fs::path::string_type> components;
    for (const auto& component : path) {
        const auto& text = component.native();
        if (text.empty()) {
            continue;
        }
        if (text == fs::path::string_type{'.'} && !components.empty()) {
            continue;
        }
        components.push_back(text);
    }
    return components;
}

// An empty root names no directory, so it contains nothing (rather than everything).
bool is_within(const std::vector<fs::path::string_type>& path, const fs::path& root) {
    const auto root_components = significant_components(root);
    return !root_components.empty() && root_components.size() <= path.size() &&
           std::equal(root_components.begin(), root_components.end(), path.begin());
}

}  // namespace

bool has_nul_byte(const fs::path& path) {
    return path.native().find('\0') != fs::path::string_type::npos;
}

std::expected<fs::path, std::error_code> canonical_path(const fs::path& path) {
    if (has_nul_byte(path)) {
        return std::unexpected(std::make_error_code(std::errc::invalid_argument));
    }
    std::error_code error;
    fs::path canonical = fs::canonical(path, error);
    if (error) {
        return std::unexpected(error);
    }
    return canonical;
}

fs::path normalize_path(const fs::path& path) {
    fs::path root_part = path.root_name();
    if (path.has_root_directory()) {
        root_part += "/";
    }
    std::vector<fs::path> names;
    for (const auto& component : path.relative_path()) {
        if (component.empty() || component == ".") {
            continue;
        }
        if (component == "..") {
            if (!names.empty()) {
                names.pop_back();
            }
            continue;
        }
        names.push_back(component);
    }
    fs::path result = root_part;
    for (const auto& name : names) {
        result /= name;
    }
    return result;
}

bool is_within_any(const fs::path& path, std::span<const fs::path> roots) {
    const auto components = significant_components(path);
    return std::any_of(roots.begin(), roots.end(),
                       [&](const fs::path& root) { return is_within(components, root); });
}

ContainmentOutcome canonicalize_within_roots(const fs::path& candidate, const fs::path& root,
                                             std::span<const fs::path> further_roots) {
    fs::path absolute = candidate.is_absolute() ? candidate : root / candidate;
    std::vector<fs::path> roots;
    roots.reserve(further_roots.size() + 1);
    roots.push_back(root);
    roots.insert(roots.end(), further_roots.begin(), further_roots.end());

    auto canonical = canonical_path(absolute);
    if (canonical) {
        if (is_within_any(*canonical, roots)) {
            return Contained{std::move(*canonical)};
        }
        return Escapes{std::move(absolute)};
    }
    std::vector<fs::path> normalized_roots;
    normalized_roots.reserve(roots.size());
    std::transform(roots.begin(), roots.end(), std::back_inserter(normalized_roots), normalize_path);
    if (is_within_any(normalize_path(absolute), normalized_roots)) {
        return Unreadable{std::move(absolute), canonical.error()};
    }
    return Escapes{std::move(absolute)};
}

}  // namespace zelk::composer
