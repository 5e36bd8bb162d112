#include "composer/validation/diagnostics.hpp"

#include <optional>
#include <utility>

#include <fmt/format.h>

#include "composer/discovery.hpp"
#include "composer/discovery/text.hpp"
#include "composer/frontmatter/parser.hpp"
#include "composer/json_text.hpp"
#include "composer/template_ext.hpp"
#include "composer/template_scanner.hpp"
#include "composer/utf8.hpp"
#include "composer/validation/builtins.hpp"
#include "composer/validation/required_paths.hpp"

namespace zelk::composer {
namespace {

// The two lists the rules append to; every diagnostic is located at the root template unless a
// rule says otherwise.
class Findings {
  public:
    explicit Findings(const std::filesystem::path& root_path) : root_path_(root_path) {}

    Diagnostic at_root(DiagnosticSeverity severity, DiagnosticCode code, std::string message) const {
        return Diagnostic::create(severity, code, std::move(message)).with_path(root_path_);
    }
    void error(DiagnosticCode code, std::string message) {
        add_error(at_root(DiagnosticSeverity::Error, code, std::move(message)));
    }
    void warning(DiagnosticCode code, std::string message) {
        add_warning(at_root(DiagnosticSeverity::Warning, code, std::move(message)));
    }
    /// Per the policy: an error, a warning, or nothing for ignore.
    void by_policy(UnknownVariablePolicy policy, DiagnosticCode code, std::string message) {
        if (policy == UnknownVariablePolicy::Error) {
            error(code, std::move(message));
        } else if (policy == UnknownVariablePolicy::Warn) {
            warning(code, std::move(message));
        }
    }
    void add_error(Diagnostic diagnostic) { result_.errors.push_back(std::move(diagnostic)); }
    /// Warnings and infos share one list.
    void add_warning(Diagnostic diagnostic) { result_.warnings.push_back(std::move(diagnostic)); }

    const std::filesystem::path& root_path() const { return root_path_; }
    PolicyDiagnostics take() { return std::move(result_); }

  private:
    const std::filesystem::path& root_path_;
    PolicyDiagnostics result_;
};

// Whether some key of `names` is `name` or a dotted path below it.
template <typename Container>
bool uses_name(const Container& names, const VariableName& name) {
    return names.contains(name) || has_key_below(names, name);
}

const std::vector<Frontmatter>* blocks_of(const ExpandedTemplate& expanded,
                                          const std::filesystem::path& file) {
    for (const auto& [path, blocks] : expanded.frontmatters) {
        if (path == file) {
            return &blocks;
        }
    }
    return nullptr;
}

void check_empty_body(const ExpandedTemplate& expanded, Findings& findings) {
    if (discovery::trim(expanded.text).empty()) {
        findings.error(DiagnosticCode::ErrValEmpty, "template body is empty");
    }
}

void check_missing_frontmatter(const ExpandedTemplate& expanded, Findings& findings) {
    for (const auto& [file, blocks] : expanded.frontmatters) {
        if (!blocks.empty()) {
            continue;
        }
        const auto text = expanded.file_texts.find(file);
        if (text == expanded.file_texts.end()) {
            continue;
        }
        const auto parsed = parse_template_document(text->second);
        if (!parsed || discover_tokens(parsed->body).empty()) {
            continue;
        }
        const char* which = file == findings.root_path() ? "root template" : "included file";
        findings.add_warning(
            Diagnostic::create(DiagnosticSeverity::Warning, DiagnosticCode::ErrValMissingFrontmatter,
                               fmt::format("{} has no frontmatter; run `zelk-compose frontmatter-init {}`",
                                           which, path_display(file)))
                .with_path(file));
    }
}

void copy_frontmatter_diagnostics(const ExpandedTemplate& expanded, Findings& findings) {
    for (const auto& entry : expanded.frontmatters) {
        for (const Frontmatter& block : entry.second) {
            for (const Diagnostic& diagnostic : block.diagnostics) {
                findings.add_warning(diagnostic);
            }
        }
    }
}

// A "{{ name }}" written between double quotes, as legacy JSON templates did.
bool is_quoted_placeholder(std::string_view text, const VariableExpression& expression) {
    const std::string_view before = discovery::trim(text.substr(0, expression.expression_start));
    const std::string_view after = discovery::trim(text.substr(expression.inner_end + 2));
    return before.ends_with('"') && after.starts_with('"');
}

bool is_placeholder_name(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (!discovery::is_ascii_word_char(c) && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

void check_legacy_placeholders(const ExpandedTemplate& expanded, const ValidationState& state,
                               Findings& findings) {
    VariableExpressionScanner scanner(expanded.text);
    while (const auto expression = scanner.next()) {
        if (!is_quoted_placeholder(expanded.text, *expression)) {
            continue;
        }
        const std::string_view inner = discovery::trim(
            std::string_view(expanded.text)
                .substr(expression->inner_start, expression->inner_end - expression->inner_start));
        if (!is_placeholder_name(inner)) {
            continue;
        }
        const auto value = state.values.find(*VariableName::create(inner));
        if (value != state.values.end() && value->second.get_if<std::string>() == nullptr) {
            findings.error(
                DiagnosticCode::ErrJsonLegacyNonString,
                fmt::format("legacy JSON escape mode requires a string value for quoted placeholder `{}`",
                            inner));
        }
    }
}

void check_json_escape_mode(const ComposeRequest& request, const ExpandedTemplate& expanded,
                            const ValidationState& state, Findings& findings) {
    const std::filesystem::path& root = findings.root_path();
    std::optional<JsonEscapeMode> declared;
    if (const auto* root_blocks = blocks_of(expanded, root);
        root_blocks != nullptr && !root_blocks->empty()) {
        declared = root_blocks->front().json_escape_mode;
    }
    const std::optional<JsonEscapeMode> requested =
        request.policy.json_escape_mode ? request.policy.json_escape_mode : declared;
    const JsonEscapeMode effective = requested.value_or(JsonEscapeMode::Auto);

    if (!is_json_template_path(root)) {
        if (requested) {
            findings.error(DiagnosticCode::ErrJsonEscapeModeNonJson,
                           "JSON escape mode is only valid for JSON templates");
        }
        return;
    }
    for (const auto& [file, blocks] : expanded.frontmatters) {
        if (file == root) {
            continue;
        }
        for (const Frontmatter& block : blocks) {
            if (!block.json_escape_mode) {
                continue;
            }
            if (*block.json_escape_mode != effective) {
                Diagnostic conflict = findings.at_root(
                    DiagnosticSeverity::Error, DiagnosticCode::ErrJsonModeIncludeConflict,
                    fmt::format(
                        "included template JSON escape mode conflicts with root: root `{}` uses effective "
                        "mode `{}`, but included template `{}` declares `{}`; included templates must match "
                        "the root mode",
                        path_display(root), as_str(effective), path_display(file),
                        as_str(*block.json_escape_mode)));
                if (const auto chain = expanded.include_chains.find(file);
                    chain != expanded.include_chains.end()) {
                    conflict.include_chain = chain->second;
                }
                findings.add_error(std::move(conflict));
            }
            break;
        }
    }
    if (effective == JsonEscapeMode::Legacy) {
        findings.warning(
            DiagnosticCode::WarnJsonLegacyEscapeMode,
            "Template uses legacy JSON escape mode. Migrate to bare placeholders (auto mode) to avoid "
            "double-quoting issues. See docs/migration/json-escape-mode.md");
        check_legacy_placeholders(expanded, state, findings);
    }
}

// Whether a variable with a default is read: by a token of the passes that declare the default
// (any pass when none does), or by a required path.
bool is_default_used(const ValidationState& state, const VariableName& name) {
    if (uses_name(state.required, name)) {
        return true;
    }
    if (!state.is_multi_pass()) {
        return uses_name(state.referenced, name);
    }
    const auto passes = state.default_passes.find(name);
    if (passes == state.default_passes.end()) {
        return uses_name(state.referenced, name);
    }
    for (const std::uint8_t pass : passes->second) {
        const auto tokens = state.tokens_by_pass.find(pass);
        if (tokens != state.tokens_by_pass.end() && uses_name(tokens->second, name)) {
            return true;
        }
    }
    return false;
}

void check_defaults_used(const ValidationState& state, Findings& findings) {
    for (const auto& [name, source] : state.sources) {
        if (source != VariableSource::TemplateInputDefault && source != VariableSource::FrontmatterDefault &&
            source != VariableSource::IncludedDefault) {
            continue;
        }
        const auto value = state.values.find(name);
        if (value == state.values.end() || !is_default_used(state, name)) {
            continue;
        }
        Diagnostic info = Diagnostic::create(DiagnosticSeverity::Info, DiagnosticCode::InfoValDefaultUsed,
                                             fmt::format("variable {} not provided, using default: {}",
                                                         name.as_str(), compact_json(value->second)));
        if (source != VariableSource::TemplateInputDefault) {
            if (const auto origin = state.default_origins.find(name);
                origin != state.default_origins.end() && origin->second) {
                info.path = *origin->second;
            }
        }
        findings.add_warning(std::move(info));
    }
}

// Tokens no declaration covers; names compare whole.
TokenSet undeclared_tokens(const ValidationState& state) {
    TokenSet undeclared;
    if (!state.is_multi_pass()) {
        for (const VariableName& token : state.referenced) {
            if (!state.declared.contains(token)) {
                undeclared.insert(token);
            }
        }
        return undeclared;
    }
    for (const auto& [pass, tokens] : state.tokens_by_pass) {
        const auto declared = state.declared_by_pass.find(pass);
        for (const VariableName& token : tokens) {
            if (declared == state.declared_by_pass.end() || !declared->second.contains(token)) {
                undeclared.insert(token);
            }
        }
    }
    return undeclared;
}

void check_undeclared_tokens(const ComposeRequest& request, const ValidationState& state,
                             Findings& findings) {
    for (const VariableName& token : undeclared_tokens(state)) {
        const std::string message = fmt::format("undeclared referenced token: {}", token.as_str());
        if (request.policy.strict_undeclared_variables) {
            findings.error(DiagnosticCode::ErrValUndeclaredToken, message);
        } else {
            findings.warning(DiagnosticCode::ErrValUndeclaredToken, message);
        }
    }
}

void check_extra_inputs(const ComposeRequest& request, const ValidationState& state, Findings& findings) {
    TokenSet known;
    for (const TokenSet* names : {&state.declared, &state.referenced}) {
        for (const VariableName& name : *names) {
            known.insert(top_level_variable_name(name));
        }
    }
    TokenSet provided;
    for (const VariableMap* values : {&request.vars_input, &request.vars_env}) {
        for (const auto& entry : *values) {
            provided.insert(top_level_variable_name(entry.first));
        }
    }
    for (const VariableName& name : provided) {
        if (!known.contains(name)) {
            findings.by_policy(request.policy.unknown_variable_policy, DiagnosticCode::ErrValExtraInput,
                               fmt::format("extra provided variable: {}", name.as_str()));
        }
    }
}

void check_unbound_variables(const ComposeRequest& request, const ValidationState& state,
                             Findings& findings) {
    const UnknownVariablePolicy policy =
        request.policy.unbound_variable_policy.value_or(request.policy.unknown_variable_policy);
    if (policy == UnknownVariablePolicy::Ignore) {
        return;
    }
    // `referenced` is the union of the per-pass token sets in the multi-pass case.
    for (const VariableName& token : state.referenced) {
        if (is_builtin_variable_name(token.as_str()) ||
            validate_required_path(state, token.as_str()).is_present()) {
            continue;
        }
        findings.by_policy(policy, DiagnosticCode::ErrValUnboundVariable,
                           fmt::format("unbound variable: {}", token.as_str()));
    }
}

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    append_json_string_contents(out, text);
    out += '"';
}

void append_json(std::string& out, const InputValue& value) {
    struct Visitor {
        std::string& out;
        void operator()(InputValue::Null) const { out += "null"; }
        void operator()(bool b) const { out += b ? "true" : "false"; }
        void operator()(std::int64_t n) const { out += fmt::format("{}", n); }
        void operator()(std::uint64_t n) const { out += fmt::format("{}", n); }
        void operator()(double d) const { out += shortest_float_text(d); }
        void operator()(const std::string& s) const { append_json_string(out, s); }
        void operator()(const InputValue::Array& array) const {
            out += '[';
            for (std::size_t i = 0; i < array.size(); ++i) {
                if (i != 0) {
                    out += ',';
                }
                append_json(out, array[i]);
            }
            out += ']';
        }
        void operator()(const InputValue::Object& object) const {
            out += '{';
            bool first = true;
            for (const auto& [key, member] : object) {
                if (!first) {
                    out += ',';
                }
                first = false;
                append_json_string(out, key);
                out += ':';
                append_json(out, member);
            }
            out += '}';
        }
    };
    std::visit(Visitor{out}, value.data);
}

}  // namespace

VariableName top_level_variable_name(const VariableName& name) {
    const std::string& text = name.as_str();
    auto head = VariableName::create(std::string_view(text).substr(0, text.find('.')));
    return head ? std::move(*head) : name;
}

std::string compact_json(const InputValue& value) {
    std::string out;
    append_json(out, value);
    return out;
}

PolicyDiagnostics collect_policy_diagnostics(const ComposeRequest& request, const ExpandedTemplate& expanded,
                                             const std::filesystem::path& root_path,
                                             const ValidationState& state) {
    Findings findings(root_path);
    check_empty_body(expanded, findings);
    check_missing_frontmatter(expanded, findings);
    copy_frontmatter_diagnostics(expanded, findings);
    check_json_escape_mode(request, expanded, state, findings);
    check_defaults_used(state, findings);
    for (Diagnostic& diagnostic : required_path_diagnostics(state)) {
        findings.add_error(std::move(diagnostic));
    }
    check_undeclared_tokens(request, state, findings);
    check_extra_inputs(request, state, findings);
    check_unbound_variables(request, state, findings);
    return findings.take();
}

}  // namespace zelk::composer
