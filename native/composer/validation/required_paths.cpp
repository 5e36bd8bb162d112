#include "composer/validation/required_paths.hpp"

#include <functional>
#include <map>
#include <set>

#include <fmt/format.h>

#include "composer/discovery/scanner.hpp"
#include "composer/discovery/scope.hpp"
#include "composer/discovery/text.hpp"

namespace zelk::composer {
namespace {

std::vector<std::string_view> split_segments(std::string_view text) {
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) {
            segments.push_back(text.substr(start));
            return segments;
        }
        segments.push_back(text.substr(start, dot - start));
        start = dot + 1;
    }
}

const std::string& file_text(const ValidationState& state, const std::filesystem::path& file) {
    static const std::string kNone;
    const auto text = state.file_texts.find(file);
    return text == state.file_texts.end() ? kNone : text->second;
}

// Calls `visit(item, location)` for every "- {item}" line of the block-style
// "required_variables:" lists of the first frontmatter block, until `visit` returns true.
template <typename Visit>
void scan_required_list(std::string_view file_text, Visit&& visit) {
    bool first = true;
    bool in_list = false;
    std::uint64_t number = 0;
    std::size_t start = 0;
    while (start <= file_text.size()) {
        const std::size_t end = file_text.find('\n', start);
        std::string_view line = file_text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? file_text.size() + 1 : end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        ++number;
        const std::string_view trimmed = discovery::trim(line);
        if (first) {
            if (trimmed != "---") {
                return;
            }
            first = false;
            continue;
        }
        if (trimmed == "---" || trimmed == "...") {
            return;
        }
        if (trimmed == "required_variables:") {
            in_list = true;
            continue;
        }
        if (!in_list) {
            continue;
        }
        if (trimmed.starts_with("- ")) {
            // Counted from the item itself, so a name that also appears in the bullet ("-")
            // still gets its own column.
            const std::size_t offset = static_cast<std::size_t>(trimmed.data() - line.data()) + 2;
            if (visit(trimmed.substr(2), SourceLocation{number, offset + 1})) {
                return;
            }
        }
        if (trimmed.size() > 1 && trimmed.ends_with(':')) {
            in_list = false;
        }
    }
}

// What the required-path diagnostics read from one declaring file, gathered in one pass over
// it so that many declarations in a large file stay linear.
struct DeclaringFileFacts {
    std::map<std::string, SourceLocation, std::less<>> locations;
    std::set<std::string, std::less<>> bare_loop_iterables;

    explicit DeclaringFileFacts(std::string_view text) {
        scan_required_list(text, [this](std::string_view item, const SourceLocation& location) {
            locations.try_emplace(std::string(item), location);
            return false;
        });
        discovery::TemplateWalker walker(text, "{{", "}}");
        while (const auto item = walker.next()) {
            if (item->kind != discovery::Delimited::Kind::Block) {
                continue;
            }
            const auto loop = discovery::parse_for_loop(item->inner);
            if (!loop) {
                continue;
            }
            const std::string_view iterable = discovery::trim(loop->iterable);
            if (discovery::parse_bare_for_loop_over(item->inner, iterable)) {
                bare_loop_iterables.emplace(iterable);
            }
        }
    }
};

Diagnostic located_error(const ValidationState& state, const VariableName& name,
                         const std::filesystem::path& declaring_file, const DeclaringFileFacts& facts,
                         DiagnosticCode code, std::string message) {
    Diagnostic diagnostic =
        Diagnostic::create(DiagnosticSeverity::Error, code, std::move(message)).with_path(declaring_file);
    if (const auto chain = state.required_include_chains.find(name);
        chain != state.required_include_chains.end()) {
        diagnostic.include_chain = chain->second;
    }
    if (const auto location = facts.locations.find(name.as_str()); location != facts.locations.end()) {
        diagnostic.line = location->second.line;
        diagnostic.column = location->second.column;
    }
    return diagnostic;
}

std::optional<Diagnostic> diagnostic_for(const ValidationState& state, const VariableName& name,
                                         const std::filesystem::path& declaring_file,
                                         const RequiredPathResult& result, const DeclaringFileFacts& facts) {
    switch (result.kind) {
        case RequiredPathResult::Kind::Missing:
            return located_error(state, name, declaring_file, facts, DiagnosticCode::ErrValMissingRequired,
                                 fmt::format("missing required variable: {}", name.as_str()));
        case RequiredPathResult::Kind::MissingNestedField:
            return located_error(state, name, declaring_file, facts, DiagnosticCode::ErrValMissingNestedField,
                                 fmt::format("missing required nested field: {}", result.path));
        case RequiredPathResult::Kind::NotAnObject:
            return located_error(state, name, declaring_file, facts, DiagnosticCode::ErrValShapeMismatch,
                                 fmt::format("required nested field path {} expected an object at {}",
                                             name.as_str(), result.path));
        case RequiredPathResult::Kind::Present:
            break;
    }
    // A plain variable iterated by a bare loop must be a list; dotted paths and variables with
    // required fields below them are objects by declaration.
    if (name.as_str().find('.') != std::string::npos || has_key_below(state.required, name)) {
        return std::nullopt;
    }
    const auto value = state.values.find(name);
    if (value == state.values.end() || value->second.get_if<InputValue::Array>() != nullptr ||
        !facts.bare_loop_iterables.contains(name.as_str())) {
        return std::nullopt;
    }
    return located_error(
        state, name, declaring_file, facts, DiagnosticCode::ErrValArrayShapeMismatch,
        fmt::format("required variable {} is consumed as a list via `{{% for %}}` but received {}",
                    name.as_str(), value_kind_text(value->second)));
}

}  // namespace

std::string_view value_kind_text(const InputValue& value) {
    struct Visitor {
        std::string_view operator()(InputValue::Null) const { return "null"; }
        std::string_view operator()(bool) const { return "boolean"; }
        std::string_view operator()(std::int64_t) const { return "number"; }
        std::string_view operator()(std::uint64_t) const { return "number"; }
        std::string_view operator()(double) const { return "number"; }
        std::string_view operator()(const std::string&) const { return "string"; }
        std::string_view operator()(const InputValue::Array&) const { return "array"; }
        std::string_view operator()(const InputValue::Object&) const { return "object"; }
    };
    return std::visit(Visitor{}, value.data);
}

RequiredPathResult validate_required_path(const ValidationState& state, std::string_view path_text) {
    const std::vector<std::string_view> segments = split_segments(path_text);
    const auto head = VariableName::create(segments.front());
    if (!head) {
        return {RequiredPathResult::Kind::Missing, {}};
    }
    const auto value = state.values.find(*head);
    if (value == state.values.end()) {
        return {RequiredPathResult::Kind::Missing, {}};
    }
    return validate_required_value(value->second, std::span(segments).subspan(1), head->as_str());
}

RequiredPathResult validate_required_value(const InputValue& value,
                                           std::span<const std::string_view> segments,
                                           const std::string& shown_path) {
    if (segments.empty()) {
        return {};
    }
    if (const auto* array = value.get_if<InputValue::Array>()) {
        for (const InputValue& element : *array) {
            RequiredPathResult result = validate_required_value(element, segments, shown_path);
            if (!result.is_present()) {
                return result;
            }
        }
        return {};
    }
    if (const auto* object = value.get_if<InputValue::Object>()) {
        std::string next_path = fmt::format("{}.{}", shown_path, segments.front());
        const auto member = object->find(std::string(segments.front()));
        if (member == object->end()) {
            return {RequiredPathResult::Kind::MissingNestedField, std::move(next_path)};
        }
        return validate_required_value(member->second, segments.subspan(1), next_path);
    }
    return {RequiredPathResult::Kind::NotAnObject, shown_path};
}

std::optional<Diagnostic> required_path_diagnostic(const ValidationState& state, const VariableName& name,
                                                   const std::filesystem::path& declaring_file,
                                                   const RequiredPathResult& result) {
    return diagnostic_for(state, name, declaring_file, result,
                          DeclaringFileFacts(file_text(state, declaring_file)));
}

std::vector<Diagnostic> required_path_diagnostics(const ValidationState& state) {
    std::vector<Diagnostic> diagnostics;
    std::map<std::filesystem::path, DeclaringFileFacts> facts;
    for (const auto& [name, declaring_file] : state.required) {
        auto file_facts = facts.find(declaring_file);
        if (file_facts == facts.end()) {
            file_facts = facts.try_emplace(declaring_file, file_text(state, declaring_file)).first;
        }
        const RequiredPathResult result = validate_required_path(state, name.as_str());
        if (auto diagnostic = diagnostic_for(state, name, declaring_file, result, file_facts->second)) {
            diagnostics.push_back(std::move(*diagnostic));
        }
    }
    return diagnostics;
}

std::optional<SourceLocation> required_variable_location(std::string_view file_text, std::string_view name) {
    std::optional<SourceLocation> found;
    scan_required_list(file_text, [&](std::string_view item, const SourceLocation& location) {
        if (item == name) {
            found = location;
        }
        return found.has_value();
    });
    return found;
}

}  // namespace zelk::composer
