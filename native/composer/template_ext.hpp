#pragma once
// Recognition of template file names: the ".j2", ".jinja2" and ".jinja" suffixes and JSON templates.

#include <filesystem>
#include <string_view>

namespace zelk::composer {

/// `text` without all of its trailing template suffixes (".j2", ".jinja2", ".jinja", compared ASCII
/// case-insensitively, removed repeatedly); the result is a prefix of `text`.
/// "a.json.JINJA2.j2" gives "a.json", ".j2" gives the empty text.
std::string_view strip_all_template_suffixes(std::string_view text);

/// True when the file name of `path`, without its template suffixes, has the extension "json"
/// (ASCII case-insensitive). A path without a file name, or whose file name is not valid UTF-8,
/// is not a JSON template.
bool is_json_template_path(const std::filesystem::path& path);

}  // namespace zelk::composer
