#pragma once
// The records with which callers describe a composition. They carry no behaviour beyond
// defaults and text forms; resolution, expansion, validation and rendering interpret them.

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "composer/types/input_value.hpp"
#include "composer/types/names.hpp"

namespace zelk::composer {

/// The agent runtimes, in the order in which all of them are searched when a request names none.
enum class RuntimeKind : std::uint8_t { Claude, Hermes, Codex, Gemini, Opencode };

/// Every runtime in search order.
inline constexpr std::array<RuntimeKind, 5> kAllRuntimeKinds = {
    RuntimeKind::Claude, RuntimeKind::Hermes, RuntimeKind::Codex, RuntimeKind::Gemini, RuntimeKind::Opencode};

/// "claude", "hermes", "codex", "gemini" or "opencode".
std::string_view as_str(RuntimeKind kind);
/// The runtime whose text form is exactly `text`.
std::optional<RuntimeKind> runtime_kind_from_str(std::string_view text);

/// The kind of an agent profile.
enum class ProfileKind : std::uint8_t { Agent, Command, Skill };

/// "agent", "command" or "skill".
std::string_view as_str(ProfileKind kind);
/// "Agent", "Command" or "Skill", the form messages show.
std::string_view debug_name(ProfileKind kind);
/// The kind whose text form is exactly `text`.
std::optional<ProfileKind> profile_kind_from_str(std::string_view text);

/// What to do with a variable that the policy checks find out of place.
enum class UnknownVariablePolicy : std::uint8_t { Error, Warn, Ignore };

/// "error", "warn" or "ignore".
std::string_view as_str(UnknownVariablePolicy policy);
/// The policy whose text form is exactly `text`.
std::optional<UnknownVariablePolicy> unknown_variable_policy_from_str(std::string_view text);

/// Where a variable's value came from.
enum class VariableSource : std::uint8_t {
    ExplicitInput,
    Environment,
    Builtin,
    TemplateInputDefault,
    FrontmatterDefault,
    IncludedDefault,
};

/// "explicit_input", "environment", "builtin", "template_input_default", "frontmatter_default"
/// or "included_default".
std::string_view as_str(VariableSource source);

/// How values are escaped inside JSON templates.
enum class JsonEscapeMode : std::uint8_t { Legacy, Auto };

/// "legacy" or "auto" (the serialised names).
std::string_view as_str(JsonEscapeMode mode);
/// "Legacy" or "Auto".
std::string_view debug_name(JsonEscapeMode mode);
/// The mode whose serialised name is exactly `text`; no other spelling is accepted.
std::optional<JsonEscapeMode> json_escape_mode_from_str(std::string_view text);

/// How profiles and templates are located. Empty lists mean: the built-in tables.
struct ResolverPolicy {
    /// When not empty, replaces the runtime directory table.
    std::vector<std::filesystem::path> candidate_directories;
    /// When not empty, replaces the default file name probes.
    std::vector<std::filesystem::path> filename_probes;
    /// Carried and shown, never consulted by resolution.
    bool ambiguous_without_runtime_is_error = false;

    bool operator==(const ResolverPolicy&) const = default;
};

/// One directory within which template and include paths must stay (canonical when built by
/// the path module).
struct ConfiningRoot {
    std::filesystem::path path;

    bool operator==(const ConfiningRoot&) const = default;
};

/// One rendering pass as a caller describes it.
struct PassConfig {
    std::uint8_t pass_number = 1;
    /// In the caller's order; duplicates are kept.
    std::vector<VariableName> required_variables;
    VariableMap defaults;
    MetadataMap metadata;

    bool operator==(const PassConfig&) const = default;
};

/// How strictly a composition is checked; a default-built policy is the policy of a request
/// that carries none.
struct ComposePolicy {
    std::vector<ConfiningRoot> allowed_roots;
    ResolverPolicy resolver_policy;
    /// Empty means: the passes of the root template's frontmatter blocks.
    std::vector<PassConfig> passes;
    std::uint16_t max_include_depth = 32;
    bool strict_undeclared_variables = false;
    UnknownVariablePolicy unknown_variable_policy = UnknownVariablePolicy::Ignore;
    /// Absent: as the root frontmatter says, else auto.
    std::optional<JsonEscapeMode> json_escape_mode;
    /// Absent: use `unknown_variable_policy`.
    std::optional<UnknownVariablePolicy> unbound_variable_policy;

    bool operator==(const ComposePolicy&) const = default;
};

/// What to compose: a template file, or a profile of some kind and name.
struct ComposeMode {
    struct File {
        /// Relative to the request root, or absolute.
        std::filesystem::path template_path;
        bool operator==(const File&) const = default;
    };
    struct Profile {
        ProfileKind kind;
        ProfileName name;
        bool operator==(const Profile&) const = default;
    };

    std::variant<File, Profile> value;

    /// File mode for `template_path`.
    static ComposeMode file(std::filesystem::path template_path) { return {File{std::move(template_path)}}; }
    /// Profile mode for `kind` and `name`.
    static ComposeMode profile(ProfileKind kind, ProfileName name) {
        return {Profile{kind, std::move(name)}};
    }

    bool operator==(const ComposeMode&) const = default;
};

/// One composition request.
struct ComposeRequest {
    /// The workspace root against which relative paths are resolved.
    std::filesystem::path root;
    ComposeMode mode;
    std::optional<RuntimeKind> runtime;
    /// Values given explicitly by the caller.
    VariableMap vars_input;
    /// Values the caller took from the environment.
    VariableMap vars_env;
    /// Caller-supplied defaults (template input defaults).
    VariableMap vars_defaults;
    std::optional<std::string> guidance_block;
    std::optional<std::string> user_prompt;
    ComposePolicy policy;

    bool operator==(const ComposeRequest&) const = default;
};

}  // namespace zelk::composer
