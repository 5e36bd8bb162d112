// JSON string escaping shared by the renderer's legacy JSON form and the validation messages.
#pragma once

#include <string>
#include <string_view>

namespace zelk::composer {

/// Appends `text` with the escapes of a JSON writer (quote, backslash, the short control escapes and
/// \u00XX for the other control characters), without surrounding quotes; other bytes unchanged.
void append_json_string_contents(std::string& out, std::string_view text);

}  // namespace zelk::composer
