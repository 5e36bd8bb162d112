#include "composer/types/names.hpp"

#include <fmt/format.h>

namespace zelk::composer {

std::string InvalidVariableNameError::display() const {
    return fmt::format("invalid variable name `{}`", text);
}

std::string InvalidProfileNameError::display() const {
    return fmt::format("invalid profile name `{}`", text);
}

bool VariableName::is_valid(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    // Every byte of a multi-byte UTF-8 sequence is >= 0x80, so a byte test rejects
    // exactly the characters outside the ASCII set.
    for (const char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '_' || c == '-' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::expected<VariableName, InvalidVariableNameError> VariableName::create(std::string text) {
    if (!is_valid(text)) {
        return std::unexpected(InvalidVariableNameError{std::move(text)});
    }
    return VariableName(std::move(text));
}

bool ProfileName::is_valid(std::string_view text) {
    return !text.empty() && text.find_first_of("/\\") == std::string_view::npos;
}

std::expected<ProfileName, InvalidProfileNameError> ProfileName::create(std::string text) {
    if (!is_valid(text)) {
        return std::unexpected(InvalidProfileNameError{std::move(text)});
    }
    return ProfileName(std::move(text));
}

}  // namespace zelk::composer
