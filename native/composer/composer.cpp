#include "composer/composer.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <utility>

#include "composer/error/config.hpp"
#include "composer/error/validation.hpp"
#include "composer/render_check.hpp"
#include "composer/renderer.hpp"
#include "composer/template_ext.hpp"
#include "composer/utf8.hpp"
#include "composer/validate.hpp"
#include "composer/validation/builtins.hpp"

namespace zelk::composer {

namespace {

// The name the renderer sees decides the escaping, so it is the template's own file name.
std::string template_name_of(const std::filesystem::path& resolved_path) {
    const std::filesystem::path name = resolved_path.filename();
    if (name.empty() || utf8_first_invalid(name.native()).has_value()) {
        return "inline";
    }
    return name.native();
}

const std::vector<Frontmatter>* root_blocks(const ExpandedTemplate& expanded,
                                            const std::filesystem::path& resolved_path) {
    const auto entry = std::find_if(expanded.frontmatters.begin(), expanded.frontmatters.end(),
                                    [&](const auto& file) { return file.first == resolved_path; });
    return entry == expanded.frontmatters.end() ? nullptr : &entry->second;
}

// `base` with every entry of `overrides` replacing or joining it.
VariableMap overlay(VariableMap base, const VariableMap& overrides) {
    for (const auto& [name, value] : overrides) {
        base.insert_or_assign(name, value);
    }
    return base;
}

// One context per policy pass, or per root block when the policy names none; the block defaults
// of that pass lie beneath the validated values.
std::vector<RenderContext> pass_contexts(const ComposePolicy& policy, const std::vector<Frontmatter>& blocks,
                                         const VariableMap& values) {
    std::vector<RenderContext> contexts;
    if (!policy.passes.empty()) {
        for (const PassConfig& pass : policy.passes) {
            const auto block = std::find_if(blocks.begin(), blocks.end(), [&](const Frontmatter& b) {
                return b.pass_number == pass.pass_number;
            });
            contexts.push_back(
                {pass.pass_number, overlay(block == blocks.end() ? VariableMap{} : block->defaults, values)});
        }
    } else {
        for (const Frontmatter& block : blocks) {
            contexts.push_back({block.pass_number, overlay(block.defaults, values)});
        }
    }
    return contexts;
}

ComposeError report_render_failure(CompositionObserver& observer, RenderError error) {
    observer.on_render_outcome(RenderOutcomeEvent{std::nullopt, error.code});
    return ComposeError(std::move(error));
}

}  // namespace

std::expected<ComposeResult, ComposeError> compose(const ComposeRequest& request) {
    NoopObserver observer;
    return compose_with_observer(request, observer);
}

std::expected<ComposeResult, ComposeError> compose_with_observer(const ComposeRequest& request,
                                                                 CompositionObserver& observer) {
    auto resolved = resolve_and_expand_with_observer(request, observer);
    if (!resolved) {
        return std::unexpected(std::move(resolved.error()));
    }
    return compose_expanded(request, observer, std::move(resolved->resolve_result),
                            std::move(resolved->expanded));
}

std::expected<ComposeResult, ComposeError> compose_expanded(const ComposeRequest& request,
                                                            CompositionObserver& observer,
                                                            ResolveResult resolve_result,
                                                            ExpandedTemplate expanded) {
    auto [report, state] =
        validate_expanded_with_delimiters(request, expanded, std::move(resolve_result), std::nullopt);
    observer.on_validation_end(ValidationEndEvent{report.warnings, report.errors});
    if (!report.errors.empty()) {
        return std::unexpected(ValidationError::from_diagnostics(std::move(report.errors)));
    }

    const std::filesystem::path& resolved_path = report.resolve_result.resolved_path;
    static const std::vector<Frontmatter> kNoBlocks;
    const std::vector<Frontmatter>* found_blocks = root_blocks(expanded, resolved_path);
    const std::vector<Frontmatter>& blocks = found_blocks != nullptr ? *found_blocks : kNoBlocks;
    const std::string template_name = template_name_of(resolved_path);
    JsonEscapeMode mode = JsonEscapeMode::Auto;
    if (request.policy.json_escape_mode) {
        mode = *request.policy.json_escape_mode;
    } else if (!blocks.empty() && blocks.front().json_escape_mode) {
        mode = *blocks.front().json_escape_mode;
    }
    inject_builtin_vars(state, resolved_path);

    MultiPassOutput output;
    if (blocks.size() < 2) {
        auto rendered =
            Renderer::with_json_escape_mode(mode).render_named(template_name, expanded.text, state.values);
        if (!rendered) {
            return std::unexpected(report_render_failure(observer, std::move(rendered.error())));
        }
        output.text = std::move(*rendered);
    } else {
        const ParsedTemplate parsed{blocks, std::move(expanded.text)};
        auto rendered =
            render_all_with_observer(parsed, pass_contexts(request.policy, blocks, state.values),
                                     template_name, observer, mode, !is_json_template_path(resolved_path));
        if (!rendered) {
            return std::unexpected(std::move(rendered.error()));
        }
        output = std::move(*rendered);
    }
    observer.on_render_outcome(RenderOutcomeEvent{output.text.size(), std::nullopt});

    ComposeResult result;
    result.rendered_text = assemble_output(output.text, request.guidance_block, request.user_prompt);
    result.resolve_result = std::move(report.resolve_result);
    result.resolved_files = std::move(expanded.resolved_files);
    result.variable_sources = std::move(state.sources);
    result.warnings = std::move(report.warnings);
    result.composition_sha256 = std::move(expanded.composition_sha256);
    result.rendered_json_invalid = output.rendered_json_invalid;
    result.invalid_json_pass = output.invalid_json_pass;
    return result;
}

std::expected<std::string, ComposeError> render_all(const ParsedTemplate& parsed,
                                                    const std::vector<RenderContext>& contexts) {
    NoopObserver observer;
    auto output = render_all_with_observer(parsed, contexts, "inline", observer, JsonEscapeMode::Auto,
                                           /*skip_json_check=*/true);
    if (!output) {
        return std::unexpected(std::move(output.error()));
    }
    return std::move(output->text);
}

std::expected<MultiPassOutput, ComposeError> render_all_with_observer(
    const ParsedTemplate& parsed, const std::vector<RenderContext>& contexts,
    const std::string& template_name, CompositionObserver& observer, JsonEscapeMode mode,
    bool skip_json_check) {
    const std::vector<Frontmatter>& blocks = parsed.passes;
    if (contexts.size() != blocks.size()) {
        return std::unexpected(ConfigError::create(
            DiagnosticCode::ErrConfigParse, fmt::format("expected {} render contexts for {} passes, got {}",
                                                        blocks.size(), blocks.size(), contexts.size())));
    }
    MultiPassOutput output{parsed.body};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::uint8_t pass = blocks[i].pass_number;
        if (contexts[i].pass_number != pass) {
            return std::unexpected(
                ConfigError::create(DiagnosticCode::ErrConfigParse,
                                    fmt::format("render context pass {} does not match header pass {}",
                                                contexts[i].pass_number, pass)));
        }
        const std::size_t braces = static_cast<std::size_t>(pass) + 1;
        auto renderer = Renderer::with_delimiters_and_json_escape_mode(std::string(braces, '{'),
                                                                       std::string(braces, '}'), mode);
        if (!renderer) {
            return std::unexpected(std::move(renderer.error()));
        }
        const std::string protected_text = protect_higher_braces(output.text, braces);
        const VariableMap context = overlay(blocks[i].defaults, contexts[i].values);
        observer.on_pass_start(PassEvent{pass});
        auto rendered = renderer->render_named(template_name, protected_text, context);
        if (!rendered) {
            return std::unexpected(report_render_failure(observer, std::move(rendered.error())));
        }
        output.text = std::move(*rendered);
        if (!skip_json_check && !output.rendered_json_invalid &&
            std::holds_alternative<JsonCheckInvalid>(
                check_rendered_output_with_meta(JsonCheckMeta{template_name, false}, output.text))) {
            output.rendered_json_invalid = true;
            output.invalid_json_pass = pass;
        }
        observer.on_pass_end(PassEvent{pass});
    }
    return output;
}

}  // namespace zelk::composer
