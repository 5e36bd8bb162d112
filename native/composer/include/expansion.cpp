#include "composer/include/expansion.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "composer/diagnostics/filesystem.hpp"
#include "composer/frontmatter/parser.hpp"
#include "composer/fs/confined_read.hpp"
#include "composer/include/directive.hpp"
#include "composer/include/path.hpp"
#include "composer/utf8.hpp"
#include "sha/file.hpp"

namespace zelk::composer {

namespace {

IncludeError read_error(const std::filesystem::path& file, std::error_code error,
                        const std::vector<std::filesystem::path>& chain) {
    const std::string shown = path_display(file);
    DiagnosticCode code = DiagnosticCode::ErrIncludeNotFound;
    std::string message;
    switch (classify_filesystem_error(file, error)) {
        case FilesystemErrorClass::IsADirectory:
            code = DiagnosticCode::ErrIncludeIsADirectory;
            message = fmt::format("include target is a directory, not a file: {}", shown);
            break;
        case FilesystemErrorClass::PermissionDenied:
            code = DiagnosticCode::ErrIncludePermissionDenied;
            message = fmt::format("permission denied reading include file: {}", shown);
            break;
        case FilesystemErrorClass::InvalidUtf8:
            code = DiagnosticCode::ErrConfigRead;
            message = fmt::format("template file is not valid UTF-8: {}", shown);
            break;
        case FilesystemErrorClass::FilesystemLoop:
            code = DiagnosticCode::ErrIncludeFilesystemLoop;
            message = fmt::format("include target is a filesystem symlink loop: {}", shown);
            break;
        case FilesystemErrorClass::Other:
            message = fmt::format("include file not found: {}", shown);
            break;
    }
    return IncludeError::create(code, std::move(message), chain).with_source(make_source(error));
}

bool contains_template_syntax(std::string_view path_text) {
    return path_text.find("{{") != std::string_view::npos || path_text.find("{%") != std::string_view::npos ||
           path_text.find("${") != std::string_view::npos;
}

// Reads, hashes and records a file on its first visit; returns its text.
std::expected<std::string, ComposeError> load_first_visit(const std::filesystem::path& file,
                                                          const ExpansionContext& context) {
    ExpansionState& state = context.state;
    state.resolved_files.push_back(file);
    state.include_chains[file] = context.chain;
    auto bytes = read_confined_file(file);
    if (!bytes) {
        return std::unexpected(read_error(file, bytes.error(), context.chain));
    }
    auto source = canonical_source(file, context.root, context.allowed_roots);
    if (!source) {
        return std::unexpected(std::move(source.error()));
    }
    const auto digest = sha::calculate_hash(*bytes);
    if (!digest) {
        return std::unexpected(IncludeError::create(
            DiagnosticCode::ErrConfigRead,
            fmt::format("failed to hash template {}: {}", path_display(file), digest.error().display()),
            context.chain));
    }
    add_node(state.nodes, state.node_index, *source, *digest);
    return std::move(*bytes);
}

std::expected<void, ComposeError> expand_body(std::string_view body, const std::filesystem::path& file,
                                              const ExpansionContext& context, std::string& out) {
    std::size_t start = 0;
    while (start < body.size()) {
        const std::size_t newline = body.find('\n', start);
        const std::size_t end = newline == std::string_view::npos ? body.size() : newline + 1;
        const std::string_view line = body.substr(start, end - start);
        start = end;

        const IncludeDirective directive = parse_include_directive(line);
        if (std::holds_alternative<NotADirective>(directive)) {
            if (trim_leading_white_space(line).starts_with("@<")) {
                return std::unexpected(dynamic_include_error(context.chain));
            }
            out.append(line);
        } else if (const auto* include = std::get_if<StaticInclude>(&directive)) {
            if (contains_template_syntax(include->path)) {
                return std::unexpected(dynamic_include_error(context.chain));
            }
            if (auto expanded = context.expand_candidate(include->path, file, out); !expanded) {
                return expanded;
            }
        } else if (const auto* conditional = std::get_if<ConditionalInclude>(&directive)) {
            // Both branches are expanded, whatever the condition will say at render time.
            std::string then_text;
            std::string else_text;
            if (auto expanded = context.expand_candidate(conditional->then_path, file, then_text);
                !expanded) {
                return expanded;
            }
            if (auto expanded = context.expand_candidate(conditional->else_path, file, else_text);
                !expanded) {
                return expanded;
            }
            out += fmt::format("{{% if {} %}}{}{{% else %}}{}{{% endif %}}", conditional->condition,
                               then_text, else_text);
        } else {
            return std::unexpected(dynamic_include_error(context.chain));
        }
        if (out.size() > kMaxExpandedBytes) {
            return std::unexpected(IncludeError::create(
                DiagnosticCode::ErrIncludeDepth,
                fmt::format("expanded template exceeds the limit of {} bytes", kMaxExpandedBytes),
                context.chain));
        }
    }
    return {};
}

}  // namespace

ComposeError dynamic_include_error(const std::vector<std::filesystem::path>& include_chain) {
    return IncludeError::create(
        DiagnosticCode::ErrIncludeDynamicUnresolved,
        "include target is dynamic or malformed; enumerate a static @<path> candidate", include_chain);
}

std::expected<void, ComposeError> ExpansionContext::expand_candidate(
    std::string_view path_text, const std::filesystem::path& including_file, std::string& out) const {
    const std::filesystem::path relative(path_text);
    const std::filesystem::path base = including_file.has_parent_path() ? including_file.parent_path() : root;
    if (state.edges.size() >= kMaxIncludeSites) {
        return std::unexpected(IncludeError::create(
            DiagnosticCode::ErrIncludeDepth,
            fmt::format("include expansion exceeds the limit of {} include sites", kMaxIncludeSites), chain));
    }
    auto target = canonicalize_include(base / relative, root, allowed_roots, chain);
    if (!target && target.error().code == DiagnosticCode::ErrIncludeNotFound) {
        target = canonicalize_include(root / relative, root, allowed_roots, chain);
    }
    if (!target) {
        return std::unexpected(std::move(target.error()));
    }
    auto from = canonical_source(including_file, root, allowed_roots);
    if (!from) {
        return std::unexpected(std::move(from.error()));
    }
    auto to = canonical_source(*target, root, allowed_roots);
    if (!to) {
        return std::unexpected(std::move(to.error()));
    }
    const std::uint32_t occurrence = next_occurrence(state.occurrence_counters, *from);
    state.edges.push_back(sha::ResolvedIncludeEdge{std::move(*from), std::move(*to), occurrence});

    ExpansionContext nested = *this;
    nested.depth = depth == std::numeric_limits<std::uint16_t>::max() ? depth : depth + 1;
    return expand_file(*target, nested, out);
}

std::expected<void, ComposeError> expand_file(const std::filesystem::path& file,
                                              const ExpansionContext& context, std::string& out) {
    std::vector<std::filesystem::path>& chain = context.chain;
    ExpansionState& state = context.state;
    if (context.depth > context.max_depth) {
        return std::unexpected(IncludeError::create(
            DiagnosticCode::ErrIncludeDepth,
            fmt::format("include depth exceeded maximum of {}", context.max_depth), chain));
    }
    if (std::find(chain.begin(), chain.end(), file) != chain.end()) {
        auto cycle = chain;
        cycle.push_back(file);
        return std::unexpected(IncludeError::create(
            DiagnosticCode::ErrIncludeCycle, fmt::format("include cycle detected at {}", path_display(file)),
            std::move(cycle)));
    }
    chain.push_back(file);
    state.current_chain = chain;

    const bool first_visit = !state.expanded.contains(file);
    std::string loaded;
    const std::string* text = nullptr;
    if (first_visit) {
        auto bytes = load_first_visit(file, context);
        if (!bytes) {
            return std::unexpected(std::move(bytes.error()));
        }
        loaded = std::move(*bytes);
        text = &loaded;
    } else {
        const auto cached = state.source_cache.find(file);
        if (cached == state.source_cache.end()) {
            return std::unexpected(IncludeError::create(
                DiagnosticCode::ErrConfigRead,
                fmt::format("cached include source is unavailable: {}", path_display(file)), chain));
        }
        text = &cached->second;
    }

    auto document = parse_template_document(*text);
    if (!document) {
        return std::unexpected(std::move(document.error()));
    }
    if (first_visit) {
        state.frontmatters.emplace_back(file, std::move(document->passes));
        state.expanded.insert(file);
        state.source_cache.emplace(file, std::move(loaded));
    }
    if (auto expanded = expand_body(document->body, file, context, out); !expanded) {
        return expanded;
    }
    chain.pop_back();
    state.current_chain = chain;
    return {};
}

std::expected<std::pair<std::string, ExpansionState>, ComposeError> expand(
    const std::filesystem::path& template_path, const std::filesystem::path& root,
    const ComposePolicy& policy) {
    std::vector<std::filesystem::path> allowed_roots;
    allowed_roots.reserve(policy.allowed_roots.size());
    for (const auto& allowed : policy.allowed_roots) {
        allowed_roots.push_back(allowed.path);
    }
    auto canonical = canonicalize_include(template_path, root, allowed_roots, {});
    if (!canonical) {
        return std::unexpected(std::move(canonical.error()));
    }
    ExpansionState state;
    std::vector<std::filesystem::path> chain;
    const ExpansionContext context{
        root, allowed_roots, std::min(policy.max_include_depth, kMaxIncludeDepthCap), 0, chain, state};
    std::string text;
    if (auto expanded = expand_file(*canonical, context, text); !expanded) {
        return std::unexpected(std::move(expanded.error()));
    }
    return std::pair{std::move(text), std::move(state)};
}

std::expected<ExpandedTemplate, ComposeError> expand_includes(const std::filesystem::path& template_path,
                                                              const std::filesystem::path& root,
                                                              const ComposePolicy& policy) {
    auto expanded = expand(template_path, root, policy);
    if (!expanded) {
        return std::unexpected(std::move(expanded.error()));
    }
    auto& [text, state] = *expanded;
    auto fingerprint = composition_fingerprint(state);
    if (!fingerprint) {
        return std::unexpected(std::move(fingerprint.error()));
    }
    return ExpandedTemplate{std::move(text),
                            std::move(state.frontmatters),
                            std::move(state.include_chains),
                            std::move(state.source_cache),
                            std::move(state.resolved_files),
                            std::move(*fingerprint)};
}

}  // namespace zelk::composer
