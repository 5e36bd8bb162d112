#include "composer/validation/state.hpp"

#include <utility>

#include "composer/validation/builtins.hpp"

namespace zelk::composer {
namespace {

// Records the declarations of one file's blocks; the first declaration of a name wins.
void collect_declarations(ValidationState& state, const std::filesystem::path& file,
                          const std::vector<Frontmatter>& blocks, VariableSource default_kind,
                          const std::vector<std::filesystem::path>& include_chain) {
    for (const Frontmatter& block : blocks) {
        for (const VariableName& name : block.required_variables) {
            state.declared.insert(name);
            state.required.try_emplace(name, file);
            state.required_include_chains.try_emplace(name, include_chain);
        }
        for (const auto& [name, value] : block.defaults) {
            state.declared.insert(name);
            state.default_origins.try_emplace(name, file);
            state.values.try_emplace(name, value);
            state.sources.try_emplace(name, default_kind);
        }
    }
}

// Caller-supplied values replace whatever an earlier step recorded for the same name.
void override_values(ValidationState& state, const VariableMap& values, VariableSource source) {
    for (const auto& [name, value] : values) {
        state.values.insert_or_assign(name, value);
        state.sources.insert_or_assign(name, source);
    }
}

// Names one block declares, required or with a default.
TokenSet block_names(const Frontmatter& block) {
    TokenSet names(block.required_variables.begin(), block.required_variables.end());
    for (const auto& entry : block.defaults) {
        names.insert(entry.first);
    }
    return names;
}

// The per-pass maps of a root template with frontmatter blocks.
void collect_pass_tokens(ValidationState& state, const ExpandedTemplate& expanded,
                         const std::vector<Frontmatter>& root_blocks) {
    TokenSet root_names;
    for (const Frontmatter& block : root_blocks) {
        TokenSet names = block_names(block);
        root_names.insert(names.begin(), names.end());
    }
    TokenSet outside;
    for (const VariableName& name : state.declared) {
        if (!root_names.contains(name)) {
            outside.insert(name);
        }
    }
    for (const Frontmatter& block : root_blocks) {
        const std::uint8_t pass = block.pass_number;
        // A later block with the same pass number replaces the earlier one's entries.
        state.tokens_by_pass.insert_or_assign(pass,
                                              discover_tokens_with_brace_count(expanded.text, pass + 1u));
        TokenSet declared = block_names(block);
        declared.insert(outside.begin(), outside.end());
        state.declared_by_pass.insert_or_assign(pass, std::move(declared));
        for (const auto& entry : block.defaults) {
            state.default_passes[entry.first].insert(pass);
        }
    }
    for (const auto& entry : state.tokens_by_pass) {
        state.referenced.insert(entry.second.begin(), entry.second.end());
    }
}

}  // namespace

ValidationState collect_validation_state(const ComposeRequest& request, const ExpandedTemplate& expanded) {
    ValidationState state;
    state.file_texts = expanded.file_texts;

    const std::filesystem::path* root =
        expanded.resolved_files.empty() ? nullptr : &expanded.resolved_files.front();
    const std::vector<Frontmatter>* root_blocks = nullptr;
    static const std::vector<std::filesystem::path> kNoChain;
    for (const auto& [file, blocks] : expanded.frontmatters) {
        const bool is_root = root != nullptr && file == *root;
        if (is_root && root_blocks == nullptr) {
            root_blocks = &blocks;
        }
        const auto chain = expanded.include_chains.find(file);
        collect_declarations(state, file, blocks,
                             is_root ? VariableSource::FrontmatterDefault : VariableSource::IncludedDefault,
                             chain == expanded.include_chains.end() ? kNoChain : chain->second);
    }

    for (const auto& entry : request.vars_defaults) {
        state.default_origins.insert_or_assign(entry.first, std::nullopt);
    }
    override_values(state, request.vars_defaults, VariableSource::TemplateInputDefault);
    override_values(state, request.vars_env, VariableSource::Environment);
    override_values(state, request.vars_input, VariableSource::ExplicitInput);

    for (const std::string_view builtin : kBuiltinVariableNames) {
        state.declared.insert(*VariableName::create(builtin));
    }

    if (root_blocks != nullptr && !root_blocks->empty()) {
        collect_pass_tokens(state, expanded, *root_blocks);
    } else {
        state.referenced = discover_tokens_with_brace_count(expanded.text, 2);
    }
    return state;
}

void apply_custom_delimiters(ValidationState& state, const ExpandedTemplate& expanded,
                             const ExpressionDelimiters& delimiters) {
    state.referenced = discover_tokens_with_delimiters(expanded.text, delimiters);
    state.tokens_by_pass.clear();
    state.declared_by_pass.clear();
}

}  // namespace zelk::composer
