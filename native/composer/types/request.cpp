#include "composer/types/request.hpp"

namespace zelk::composer {

namespace {

template <typename Enum, std::size_t N>
std::optional<Enum> lookup(const std::array<std::string_view, N>& texts, std::string_view text) {
    for (std::size_t i = 0; i < N; ++i) {
        if (texts[i] == text) {
            return static_cast<Enum>(i);
        }
    }
    return std::nullopt;
}

constexpr std::array<std::string_view, 5> kRuntimeTexts = {"claude", "hermes", "codex", "gemini", "opencode"};
constexpr std::array<std::string_view, 3> kProfileKindTexts = {"agent", "command", "skill"};
constexpr std::array<std::string_view, 3> kProfileKindDebugNames = {"Agent", "Command", "Skill"};
constexpr std::array<std::string_view, 3> kPolicyTexts = {"error", "warn", "ignore"};
constexpr std::array<std::string_view, 6> kSourceTexts = {
    "explicit_input",         "environment",         "builtin",
    "template_input_default", "frontmatter_default", "included_default"};
constexpr std::array<std::string_view, 2> kEscapeModeTexts = {"legacy", "auto"};
constexpr std::array<std::string_view, 2> kEscapeModeDebugNames = {"Legacy", "Auto"};

}  // namespace

std::string_view as_str(RuntimeKind kind) {
    return kRuntimeTexts.at(static_cast<std::size_t>(kind));
}

std::optional<RuntimeKind> runtime_kind_from_str(std::string_view text) {
    return lookup<RuntimeKind>(kRuntimeTexts, text);
}

std::string_view as_str(ProfileKind kind) {
    return kProfileKindTexts.at(static_cast<std::size_t>(kind));
}

std::string_view debug_name(ProfileKind kind) {
    return kProfileKindDebugNames.at(static_cast<std::size_t>(kind));
}

std::optional<ProfileKind> profile_kind_from_str(std::string_view text) {
    return lookup<ProfileKind>(kProfileKindTexts, text);
}

std::string_view as_str(UnknownVariablePolicy policy) {
    return kPolicyTexts.at(static_cast<std::size_t>(policy));
}

std::optional<UnknownVariablePolicy> unknown_variable_policy_from_str(std::string_view text) {
    return lookup<UnknownVariablePolicy>(kPolicyTexts, text);
}

std::string_view as_str(VariableSource source) {
    return kSourceTexts.at(static_cast<std::size_t>(source));
}

std::string_view as_str(JsonEscapeMode mode) {
    return kEscapeModeTexts.at(static_cast<std::size_t>(mode));
}

std::string_view debug_name(JsonEscapeMode mode) {
    return kEscapeModeDebugNames.at(static_cast<std::size_t>(mode));
}

std::optional<JsonEscapeMode> json_escape_mode_from_str(std::string_view text) {
    return lookup<JsonEscapeMode>(kEscapeModeTexts, text);
}

}  // namespace zelk::composer
