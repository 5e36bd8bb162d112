// The Renderer, its environment configuration and rendering with supporting templates.

#include "composer/renderer.hpp"

#include "composer/renderer/filters.hpp"
#include "composer/renderer/values.hpp"

namespace zelk::composer {
namespace {

RenderError engine_failure(jinja::Error error) {
    return RenderError::render(std::move(error));
}

std::expected<std::string, RenderError> render_template(const jinja::Template& compiled,
                                                        jinja::Result<jinja::Value> context) {
    if (!context) {
        return std::unexpected(engine_failure(std::move(context.error())));
    }
    auto rendered = compiled.render(*context);
    if (!rendered) {
        return std::unexpected(engine_failure(std::move(rendered.error())));
    }
    return std::move(*rendered);
}

}  // namespace

void configure_environment(jinja::Environment& env, JsonEscapeMode mode) {
    env.set_lstrip_blocks(true);
    env.set_trim_blocks(true);
    env.set_keep_trailing_newline(false);
    env.set_auto_escape_callback([mode](std::string_view name) { return auto_escape_callback(name, mode); });
    env.set_formatter(format_zelk_compose_markup);
    renderer_detail::register_filters(env);
    env.set_unknown_method_callback(map_get_unknown_method_callback);
}

Renderer::Renderer() : Renderer(JsonEscapeMode::Auto) {}

Renderer::Renderer(JsonEscapeMode mode) : mode_(mode) {
    configure_environment(env_, mode);
}

Renderer Renderer::with_json_escape_mode(JsonEscapeMode mode) {
    return Renderer(mode);
}

std::expected<Renderer, RenderError> Renderer::with_delimiters(std::string start, std::string end) {
    return with_delimiters_and_json_escape_mode(std::move(start), std::move(end), JsonEscapeMode::Auto);
}

std::expected<Renderer, RenderError> Renderer::with_delimiters_and_json_escape_mode(std::string start,
                                                                                    std::string end,
                                                                                    JsonEscapeMode mode) {
    Renderer renderer(mode);
    if (auto configured = renderer.env_.set_syntax(std::move(start), std::move(end)); !configured) {
        return std::unexpected(engine_failure(std::move(configured.error())));
    }
    return renderer;
}

std::expected<std::string, RenderError> Renderer::render_named(std::string name, std::string_view source,
                                                               const VariableMap& context) const {
    return render_engine_context(std::move(name), source, renderer_detail::engine_context(context));
}

std::expected<std::string, RenderError> Renderer::render_named(std::string name, std::string_view source,
                                                               const InputValue& context) const {
    return render_engine_context(std::move(name), source, renderer_detail::engine_context(context));
}

std::expected<std::string, RenderError> Renderer::render_engine_context(
    std::string name, std::string_view source, jinja::Result<jinja::Value> context) const {
    // Compiled for this call only: the environment is never changed by rendering.
    auto compiled = env_.compile(std::move(name), source);
    if (!compiled) {
        return std::unexpected(engine_failure(std::move(compiled.error())));
    }
    return render_template(*compiled, std::move(context));
}

std::expected<std::string, RenderError> render_loaded_template(const LoadedTemplateRequest& request) {
    return render_loaded_template_with_json_escape_mode(request, JsonEscapeMode::Auto);
}

std::expected<std::string, RenderError> render_loaded_template_with_json_escape_mode(
    const LoadedTemplateRequest& request, JsonEscapeMode mode) {
    jinja::Environment env;
    configure_environment(env, mode);
    // Every template compiles when added, so a broken supporting template fails the call even
    // when the main template never uses it; a later name replaces an earlier one.
    for (const NamedTemplateAsset& asset : request.supporting_templates) {
        if (auto added = env.add_template(asset.template_name, asset.template_text); !added) {
            return std::unexpected(engine_failure(std::move(added.error())));
        }
    }
    if (auto added = env.add_template(request.template_name, request.template_text); !added) {
        return std::unexpected(engine_failure(std::move(added.error())));
    }
    auto main = env.get_template(request.template_name);
    if (!main) {
        return std::unexpected(engine_failure(std::move(main.error())));
    }
    return render_template(*main, renderer_detail::engine_context(request.context));
}

}  // namespace zelk::composer
