#include "composer/discovery.hpp"

#include "composer/discovery/scanner.hpp"
#include "composer/discovery/scope.hpp"

namespace zelk::composer {
namespace {

// Walks `text`, following loop and set scopes, and collects every token.
TokenSet walk_template(std::string_view text, std::string_view open, std::string_view close) {
    using discovery::Delimited;
    TokenSet tokens;
    discovery::ScopeStack scopes;
    discovery::TemplateWalker walker(text, open, close);
    while (const std::optional<Delimited> item = walker.next()) {
        if (item->kind == Delimited::Kind::Variable) {
            discovery::collect_identifiers(item->inner, scopes, tokens);
            continue;
        }
        const std::string_view statement = item->inner;
        if (auto loop = discovery::parse_for_loop(statement)) {
            // The loop's own condition is read before its variables are bound.
            discovery::collect_identifiers(loop->iterable, scopes, tokens);
            scopes.push(std::move(loop->targets));
        } else if (statement.starts_with("endfor")) {
            scopes.pop();
        } else if (auto assignment = discovery::parse_set_assignment(statement)) {
            discovery::collect_identifiers(assignment->value, scopes, tokens);
            scopes.add_to_root(std::string(assignment->target));
        } else {
            discovery::collect_identifiers(statement, scopes, tokens);
        }
    }
    return tokens;
}

}  // namespace

TokenSet discover_tokens(std::string_view text) {
    return discover_tokens_with_brace_count(text, 2);
}

TokenSet discover_tokens_with_brace_count(std::string_view text, std::uint64_t brace_count) {
    if (brace_count < 2) {
        return {};
    }
    if (brace_count > text.size()) {
        // No expression fits; blocks are still walked for their statements.
        return walk_template(text, {}, {});
    }
    const std::string open(static_cast<std::size_t>(brace_count), '{');
    const std::string close(static_cast<std::size_t>(brace_count), '}');
    return walk_template(text, open, close);
}

TokenSet discover_tokens_with_delimiters(std::string_view text, std::string_view open,
                                         std::string_view close) {
    if (open.empty() || close.empty()) {
        return {};
    }
    return walk_template(text, open, close);
}

TokenSet discover_tokens_with_delimiters(std::string_view text, const ExpressionDelimiters& delimiters) {
    return discover_tokens_with_delimiters(text, delimiters.open, delimiters.close);
}

bool has_bare_for_loop_over(std::string_view text, std::string_view name) {
    discovery::TemplateWalker walker(text, "{{", "}}");
    while (const auto item = walker.next()) {
        if (item->kind == discovery::Delimited::Kind::Block &&
            discovery::parse_bare_for_loop_over(item->inner, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace zelk::composer
