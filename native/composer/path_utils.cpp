#include "composer/path_utils.hpp"

#include <algorithm>
#include <string_view>

#include "composer/utf8.hpp"

namespace zelk::composer {

std::string to_forward_slash(const std::filesystem::path& path) {
    constexpr std::string_view kExtendedLengthPrefix = R"(\\?\)";
    std::string text = path_display(path);
    if (text.starts_with(kExtendedLengthPrefix)) {
        text.erase(0, kExtendedLengthPrefix.size());
    }
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

}  // namespace zelk::composer
