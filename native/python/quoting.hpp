#pragma once
// The two quoting styles used by the module's repr() texts.

#include <filesystem>
#include <string>
#include <string_view>

namespace zelk::python {

/// 'text' with every backslash doubled and every single quote escaped; nothing else.
std::string python_quote(std::string_view text);

/// "text" with '"' and '\' escaped, \t \r \n \0 named, and every other non-printable or
/// grapheme-extending character written \u{hex}. Invalid UTF-8 is first replaced lossily.
std::string debug_quote(std::string_view text);

/// Debug quoting of a path's lossy UTF-8 text, separators unchanged.
std::string debug_quote_path(const std::filesystem::path& path);

}  // namespace zelk::python
