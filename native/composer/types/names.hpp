#pragma once
// Validated names shared by every core module: template variables and agent profiles.

#include <compare>
#include <expected>
#include <string>
#include <string_view>

namespace zelk::composer {

/// The rejected text of a variable name; displays as "invalid variable name `{text}`".
struct InvalidVariableNameError {
    std::string text;

    /// The human-readable error text.
    std::string display() const;
    bool operator==(const InvalidVariableNameError&) const = default;
};

/// The rejected text of a profile name; displays as "invalid profile name `{text}`".
struct InvalidProfileNameError {
    std::string text;

    /// The human-readable error text.
    std::string display() const;
    bool operator==(const InvalidProfileNameError&) const = default;
};

/// A template variable name: non-empty, only ASCII letters, digits, '_', '-' and '.'.
/// Compared and ordered byte by byte, so sorted containers of names are in byte order.
class VariableName {
  public:
    /// Checks `text` and wraps it unchanged; the error keeps the rejected text.
    static std::expected<VariableName, InvalidVariableNameError> create(std::string text);
    /// Same as `create`, copying borrowed text.
    static std::expected<VariableName, InvalidVariableNameError> create(std::string_view text) {
        return create(std::string(text));
    }
    /// Same as `create`, for string literals.
    static std::expected<VariableName, InvalidVariableNameError> create(const char* text) {
        return create(std::string(text));
    }
    /// True when `text` satisfies the variable-name rule.
    static bool is_valid(std::string_view text);

    /// The name's text, exactly as given.
    const std::string& as_str() const { return text_; }
    /// The display form, which is the text itself.
    const std::string& display() const { return text_; }

    friend bool operator==(const VariableName&, const VariableName&) = default;
    friend std::strong_ordering operator<=>(const VariableName& a, const VariableName& b) {
        return a.text_.compare(b.text_) <=> 0;
    }

  private:
    explicit VariableName(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

/// An agent profile name: non-empty and free of '/' and '\'; nothing else is checked.
class ProfileName {
  public:
    /// Checks `text` and wraps it unchanged; the error keeps the rejected text.
    static std::expected<ProfileName, InvalidProfileNameError> create(std::string text);
    /// Same as `create`, copying borrowed text.
    static std::expected<ProfileName, InvalidProfileNameError> create(std::string_view text) {
        return create(std::string(text));
    }
    /// Same as `create`, for string literals.
    static std::expected<ProfileName, InvalidProfileNameError> create(const char* text) {
        return create(std::string(text));
    }
    /// True when `text` satisfies the profile-name rule.
    static bool is_valid(std::string_view text);

    /// The name's text, exactly as given.
    const std::string& as_str() const { return text_; }
    /// The display form, which is the text itself.
    const std::string& display() const { return text_; }

    friend bool operator==(const ProfileName&, const ProfileName&) = default;
    friend std::strong_ordering operator<=>(const ProfileName& a, const ProfileName& b) {
        return a.text_.compare(b.text_) <=> 0;
    }

  private:
    explicit ProfileName(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

}  // namespace zelk::composer
