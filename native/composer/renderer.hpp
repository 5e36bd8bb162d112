#pragma once
// The configured template renderer: the one place that drives the template engine, so every
// rendering in the system follows the same whitespace, escaping, filter and `get` rules.

#include <expected>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "composer/error/render.hpp"
#include "composer/types/input_value.hpp"
#include "composer/types/request.hpp"
#include "jinja/jinja.hpp"

namespace zelk::composer {

/// Name of the custom escaping selection for markup templates (xml, htm, html, xhtml).
inline constexpr std::string_view kHtmlEscapeName = "zelk-compose-html";
/// Name of the custom escaping selection for JSON templates under `JsonEscapeMode::Legacy`.
inline constexpr std::string_view kJsonLegacyEscapeName = "zelk-compose-json-legacy";

/// A named template source held in memory.
struct NamedTemplateAsset {
    std::string template_name;
    std::string template_text;

    bool operator==(const NamedTemplateAsset&) const = default;
};

/// The input of `render_loaded_template`: one main template, its context (keys are not held to
/// the variable-name rules) and the supporting templates it may include, import or extend.
struct LoadedTemplateRequest {
    std::string template_name;
    std::string template_text;
    std::map<std::string, InputValue> context;
    /// In the caller's order; a later name replaces an earlier one.
    std::vector<NamedTemplateAsset> supporting_templates;
};

/// One configured engine environment. Immutable after construction: `render_named` compiles
/// for one call without storing, so a renderer can serve any number of renders (also from
/// several threads).
class Renderer {
  public:
    /// Default variable delimiters "{{" "}}", mode `Auto`.
    Renderer();
    /// Default delimiters and the given JSON escape mode.
    static Renderer with_json_escape_mode(JsonEscapeMode mode);
    /// Variable expressions written `start ... end`, mode `Auto`; a RenderError when the engine
    /// refuses the delimiter pair.
    static std::expected<Renderer, RenderError> with_delimiters(std::string start, std::string end);
    /// As `with_delimiters`, with the given mode.
    static std::expected<Renderer, RenderError> with_delimiters_and_json_escape_mode(std::string start,
                                                                                     std::string end,
                                                                                     JsonEscapeMode mode);

    JsonEscapeMode json_escape_mode() const noexcept { return mode_; }

    /// Compiles `source` under `name` (the name decides the escaping) and renders it with a map
    /// context. Compile and evaluation errors become `RenderError::render` of the engine error.
    std::expected<std::string, RenderError> render_named(std::string name, std::string_view source,
                                                         const VariableMap& context) const;
    /// As above with any input value as context: an object gives the variables, null an empty
    /// context; any other value is refused (a template context is a map).
    std::expected<std::string, RenderError> render_named(std::string name, std::string_view source,
                                                         const InputValue& context) const;

  private:
    explicit Renderer(JsonEscapeMode mode);
    std::expected<std::string, RenderError> render_engine_context(std::string name, std::string_view source,
                                                                  jinja::Result<jinja::Value> context) const;

    jinja::Environment env_;
    JsonEscapeMode mode_;
};

/// Renders the main template of `request` with its supporting templates available by name,
/// mode `Auto`. A syntax error in any template fails the call, used or not.
std::expected<std::string, RenderError> render_loaded_template(const LoadedTemplateRequest& request);
/// As `render_loaded_template` with the given JSON escape mode, in a private environment.
std::expected<std::string, RenderError> render_loaded_template_with_json_escape_mode(
    const LoadedTemplateRequest& request, JsonEscapeMode mode);

/// Configures a fresh engine environment, in this order: lstrip_blocks and trim_blocks on
/// (keep_trailing_newline off), the auto-escape callback for `mode`, the markup formatter, the
/// six filters, the map `get` handler.
void configure_environment(jinja::Environment& env, JsonEscapeMode mode);

/// The escaping of a template chosen from its name: the extension left after removing every
/// template suffix decides (markup extensions, json by mode, anything else none).
jinja::AutoEscape auto_escape_callback(std::string_view template_name, JsonEscapeMode mode);

/// The output formatter of every expression: none prints like undefined; the two custom
/// selections are written here (legacy JSON string contents, markup-safe text); every other
/// selection gets the engine's default formatting.
jinja::Result<void> format_zelk_compose_markup(jinja::Output& out, const jinja::State& state,
                                               const jinja::Value& value);

/// Handles methods the engine does not resolve: `get` on a map with one or two arguments looks
/// up the key (absent: the second argument, or undefined); anything else is the engine's
/// unknown-method error.
jinja::Result<jinja::Value> map_get_unknown_method_callback(jinja::State& state, const jinja::Value& receiver,
                                                            std::string_view method, const jinja::Args& args);

/// `text` with the five markup characters replaced by entities and every control character
/// that XML 1.0 forbids replaced by "&#xfffd;" (tab, line feed and carriage return stay).
std::string xml_char_safe_string(std::string_view text);

/// The engine value of an input value (objects become maps in key order). Integers above the
/// engine's signed 64-bit range are refused rather than rounded.
jinja::Result<jinja::Value> to_engine_value(const InputValue& value);

}  // namespace zelk::composer
