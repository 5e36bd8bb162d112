#include "composer/frontmatter/parser.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <string>

#include <fmt/format.h>

#include "composer/discovery.hpp"
#include "composer/frontmatter/normalizer.hpp"
#include "composer/yaml/metadata.hpp"
#include "composer/yaml/reader.hpp"

namespace zelk::composer {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr std::array<std::string_view, 7> kFrontmatterKeys = {
    "pass", "required_variables", "variables", "defaults", "input_defaults", "metadata", "json_escape_mode"};

bool is_frontmatter_key(std::string_view key) {
    for (std::string_view known : kFrontmatterKeys) {
        if (known == key) {
            return true;
        }
    }
    return false;
}

// A sequence or mapping without a tag other than its own core tag.
bool is_plain_collection(const yaml::Node& node, yaml::Node::Kind kind) {
    if (node.kind != kind) {
        return false;
    }
    return node.tag.empty() || node.tag == (kind == yaml::Node::Kind::Mapping ? "tag:yaml.org,2002:map"
                                                                              : "tag:yaml.org,2002:seq");
}

bool is_blank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

ConfigError unterminated_block() {
    return ConfigError::create(DiagnosticCode::ErrConfigParse,
                               "frontmatter block started with `---` but no closing delimiter was found")
        .with_recovery_hint(RecoveryHint::ReviewConfiguration{"frontmatter"});
}

// The key's text when it is a YAML string.
std::optional<std::string> string_key(const yaml::Node& key) {
    auto typed = yaml::to_metadata_value(key);
    if (!typed) {
        return std::nullopt;
    }
    if (auto* text = std::get_if<std::string>(&typed->data)) {
        return std::move(*text);
    }
    return std::nullopt;
}

// A later block is frontmatter only if it is free of Jinja delimiters and blank or a mapping
// whose keys are all frontmatter keys; otherwise it belongs to the body.
bool is_acceptable_later_block(std::string_view content) {
    for (std::string_view delimiter : {"{{", "{%", "{#"}) {
        if (content.find(delimiter) != std::string_view::npos) {
            return false;
        }
    }
    if (is_blank(content)) {
        return true;
    }
    auto document = yaml::read_single_document(content);
    if (!document || !*document) {
        return false;
    }
    const yaml::Node& root = **document;
    if (!is_plain_collection(root, yaml::Node::Kind::Mapping)) {
        return false;
    }
    for (const auto& [key, value] : root.entries) {
        const auto text = string_key(key);
        if (!text || !is_frontmatter_key(*text)) {
            return false;
        }
    }
    return true;
}

// Where a block's opening line ends, or nullopt when `position` does not open a block (it must
// begin with "---", followed by spaces or tabs only and a line end). `at_end` is set when the
// text ends on the opening line or right after it.
std::optional<std::size_t> opening_line_end(std::string_view text, std::size_t position, bool& at_end) {
    std::size_t cursor = position + 3;
    while (cursor < text.size() && (text[cursor] == ' ' || text[cursor] == '\t')) {
        ++cursor;
    }
    at_end = cursor == text.size();
    if (at_end) {
        return cursor;
    }
    if (text[cursor] == '\n') {
        ++cursor;
    } else if (text.substr(cursor, 2) == "\r\n") {
        cursor += 2;
    } else {
        return std::nullopt;
    }
    at_end = cursor == text.size();
    return cursor;
}

struct ClosingLine {
    std::size_t start;
    std::size_t next;
};

// The first line from `from` that is exactly "---" or "..." once its trailing CRs and LFs are
// removed.
std::optional<ClosingLine> find_closing_line(std::string_view text, std::size_t from) {
    std::size_t line_start = from;
    while (line_start < text.size()) {
        const std::size_t newline = text.find('\n', line_start);
        const std::size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
        std::string_view line = text.substr(line_start, next - line_start);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line == "---" || line == "...") {
            return ClosingLine{line_start, next};
        }
        line_start = next;
    }
    return std::nullopt;
}

// ----- Reading a block into the key table -----

std::string describe(const MetadataValue& value) {
    struct Visitor {
        std::string operator()(MetadataValue::Null) const { return "null"; }
        std::string operator()(bool v) const { return fmt::format("boolean `{}`", v); }
        std::string operator()(std::int64_t v) const { return fmt::format("integer `{}`", v); }
        std::string operator()(std::uint64_t v) const { return fmt::format("integer `{}`", v); }
        std::string operator()(double v) const { return fmt::format("floating point `{}`", v); }
        std::string operator()(const std::string& v) const { return fmt::format("string \"{}\"", v); }
        std::string operator()(const MetadataValue::Sequence&) const { return "sequence"; }
        std::string operator()(const MetadataValue::Mapping&) const { return "mapping"; }
        std::string operator()(const MetadataValue::Tagged& v) const {
            return fmt::format("tagged value {}", v.tag);
        }
    };
    return std::visit(Visitor{}, value.data);
}

yaml::YamlError type_error(std::string_view where, const MetadataValue& found, const yaml::Node& node,
                           std::string_view expected) {
    return yaml::YamlError{fmt::format("{}: invalid type: {}, expected {}", where, describe(found), expected),
                           node.mark};
}

template <typename T>
using Read = std::expected<T, yaml::YamlError>;

Read<MetadataValue> typed(const yaml::Node& node) {
    return yaml::to_metadata_value(node);
}

Read<std::string> read_string(const yaml::Node& node, std::string_view where) {
    auto value = typed(node);
    if (!value) {
        return std::unexpected(std::move(value.error()));
    }
    if (auto* text = std::get_if<std::string>(&value->data)) {
        return std::move(*text);
    }
    return std::unexpected(type_error(where, *value, node, "a string"));
}

Read<std::optional<std::uint8_t>> read_pass(const yaml::Node& node) {
    auto value = typed(node);
    if (!value) {
        return std::unexpected(std::move(value.error()));
    }
    if (value->is_null()) {
        return std::nullopt;
    }
    const auto* signed_number = value->get_if<std::int64_t>();
    if (signed_number && *signed_number >= 0 && *signed_number <= 255) {
        return static_cast<std::uint8_t>(*signed_number);
    }
    if (signed_number || value->get_if<std::uint64_t>()) {
        return std::unexpected(yaml::YamlError{
            fmt::format("pass: invalid value: {}, expected an integer from 0 to 255", describe(*value)),
            node.mark});
    }
    return std::unexpected(type_error("pass", *value, node, "an integer from 0 to 255"));
}

Read<std::optional<JsonEscapeMode>> read_escape_mode(const yaml::Node& node) {
    auto value = typed(node);
    if (!value) {
        return std::unexpected(std::move(value.error()));
    }
    if (value->is_null()) {
        return std::nullopt;
    }
    const auto* text = value->get_if<std::string>();
    if (!text) {
        return std::unexpected(type_error("json_escape_mode", *value, node, "`legacy` or `auto`"));
    }
    if (auto mode = json_escape_mode_from_str(*text)) {
        return mode;
    }
    return std::unexpected(yaml::YamlError{
        fmt::format("json_escape_mode: unknown variant `{}`, expected `legacy` or `auto`", *text),
        node.mark});
}

// Sections that hold a list or mapping read an empty plain value ("key:") as empty, and
// refuse an explicit null like any other wrong type.
bool is_empty_section(const yaml::Node& node) {
    return node.is_empty_plain();
}

Read<std::vector<std::string>> read_string_list(const yaml::Node& node, std::string_view key) {
    std::vector<std::string> items;
    if (is_empty_section(node)) {
        return items;
    }
    if (!is_plain_collection(node, yaml::Node::Kind::Sequence)) {
        auto value = typed(node);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        return std::unexpected(type_error(key, *value, node, "a sequence of strings"));
    }
    items.reserve(node.items.size());
    for (std::size_t i = 0; i < node.items.size(); ++i) {
        auto item = read_string(node.items[i], fmt::format("{}[{}]", key, i));
        if (!item) {
            return std::unexpected(std::move(item.error()));
        }
        items.push_back(std::move(*item));
    }
    return items;
}

// Walks a mapping section with string keys, handing each entry to `visit`; later entries
// reach `visit` after earlier ones, so a repeated key ends with its last value.
Read<bool> for_each_entry(const yaml::Node& node, std::string_view key,
                          const std::function<Read<bool>(std::string, const yaml::Node&)>& visit) {
    if (is_empty_section(node)) {
        return true;
    }
    if (!is_plain_collection(node, yaml::Node::Kind::Mapping)) {
        auto value = typed(node);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        return std::unexpected(type_error(key, *value, node, "a mapping"));
    }
    for (const auto& [entry_key, entry_value] : node.entries) {
        auto text = read_string(entry_key, fmt::format("{} key", key));
        if (!text) {
            return std::unexpected(std::move(text.error()));
        }
        if (auto visited = visit(std::move(*text), entry_value); !visited) {
            return visited;
        }
    }
    return true;
}

Read<std::map<std::string, MetadataValue>> read_value_map(const yaml::Node& node, std::string_view key) {
    std::map<std::string, MetadataValue> values;
    auto read = for_each_entry(node, key, [&](std::string name, const yaml::Node& value) -> Read<bool> {
        auto converted = typed(value);
        if (!converted) {
            return std::unexpected(std::move(converted.error()));
        }
        values.insert_or_assign(std::move(name), std::move(*converted));
        return true;
    });
    if (!read) {
        return std::unexpected(std::move(read.error()));
    }
    return values;
}

Read<RawVariableDeclaration> read_declaration(const yaml::Node& node, const std::string& name) {
    RawVariableDeclaration declaration;
    bool seen_required = false;
    const std::string where = fmt::format("variables.{}", name);
    auto read = for_each_entry(node, where, [&](std::string field, const yaml::Node& value) -> Read<bool> {
        if (field != "required") {
            return true;
        }
        if (seen_required) {
            return std::unexpected(
                yaml::YamlError{fmt::format("{}: duplicate field `required`", where), value.mark});
        }
        seen_required = true;
        auto flag = typed(value);
        if (!flag) {
            return std::unexpected(std::move(flag.error()));
        }
        const auto* required = flag->get_if<bool>();
        if (!required) {
            return std::unexpected(type_error(where + ".required", *flag, value, "a boolean"));
        }
        declaration.required = *required;
        return true;
    });
    if (!read) {
        return std::unexpected(std::move(read.error()));
    }
    return declaration;
}

Read<std::map<std::string, RawVariableDeclaration>> read_variables(const yaml::Node& node) {
    std::map<std::string, RawVariableDeclaration> variables;
    auto read =
        for_each_entry(node, "variables", [&](std::string name, const yaml::Node& value) -> Read<bool> {
            auto declaration = read_declaration(value, name);
            if (!declaration) {
                return std::unexpected(std::move(declaration.error()));
            }
            variables.insert_or_assign(std::move(name), *declaration);
            return true;
        });
    if (!read) {
        return std::unexpected(std::move(read.error()));
    }
    return variables;
}

// Assigns `read` to `field`, turning its failure into the block's failure.
template <typename T, typename U>
Read<bool> assign(T& field, Read<U> read) {
    if (!read) {
        return std::unexpected(std::move(read.error()));
    }
    field = std::move(*read);
    return true;
}

Read<bool> read_entry(RawFrontmatter& raw, std::string_view key, const yaml::Node& value) {
    if (key == "pass") {
        return assign(raw.pass, read_pass(value));
    }
    if (key == "required_variables") {
        return assign(raw.required_variables, read_string_list(value, key));
    }
    if (key == "variables") {
        return assign(raw.variables, read_variables(value));
    }
    if (key == "defaults") {
        return assign(raw.defaults, read_value_map(value, key));
    }
    if (key == "input_defaults") {
        return assign(raw.input_defaults, read_value_map(value, key));
    }
    if (key == "metadata") {
        return assign(raw.metadata, read_value_map(value, key));
    }
    return assign(raw.json_escape_mode, read_escape_mode(value));
}

Read<RawFrontmatter> read_block(std::string_view content) {
    RawFrontmatter raw;
    if (is_blank(content)) {
        return raw;
    }
    auto document = yaml::read_single_document(content);
    if (!document) {
        return std::unexpected(std::move(document.error()));
    }
    if (!*document || (*document)->is_empty_plain()) {
        return raw;
    }
    const yaml::Node& root = **document;
    if (!is_plain_collection(root, yaml::Node::Kind::Mapping)) {
        auto value = typed(root);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        return std::unexpected(type_error("frontmatter", *value, root, "a mapping of frontmatter keys"));
    }
    std::array<bool, kFrontmatterKeys.size()> seen{};
    for (const auto& [key_node, value_node] : root.entries) {
        const auto key = string_key(key_node);
        if (!key || !is_frontmatter_key(*key)) {
            continue;
        }
        const std::size_t index = static_cast<std::size_t>(
            std::find(kFrontmatterKeys.begin(), kFrontmatterKeys.end(), *key) - kFrontmatterKeys.begin());
        if (seen[index]) {
            return std::unexpected(yaml::YamlError{fmt::format("duplicate field `{}`", *key), key_node.mark});
        }
        seen[index] = true;
        if (auto read = read_entry(raw, *key, value_node); !read) {
            return std::unexpected(std::move(read.error()));
        }
    }
    return raw;
}

}  // namespace

std::expected<DocumentSplit, ConfigError> split_document(std::string_view text) {
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    DocumentSplit split;
    std::size_t position = 0;
    while (text.substr(position).starts_with("---")) {
        const bool first = split.blocks.empty();
        bool at_end = false;
        const auto content_start = opening_line_end(text, position, at_end);
        if (!content_start) {
            break;
        }
        const auto closing = at_end ? std::nullopt : find_closing_line(text, *content_start);
        if (!closing) {
            // Only the first block must close: a later unclosed "---" line is ordinary body
            // text, such as a Markdown horizontal rule right after the frontmatter.
            if (first) {
                return std::unexpected(unterminated_block());
            }
            break;
        }
        const std::string_view content = text.substr(*content_start, closing->start - *content_start);
        if (!first && !is_acceptable_later_block(content)) {
            break;
        }
        split.blocks.push_back(content);
        position = closing->next;
    }
    split.body = text.substr(position);
    return split;
}

std::expected<RawFrontmatter, ConfigError> read_raw_frontmatter(std::string_view content) {
    auto raw = read_block(content);
    if (!raw) {
        return std::unexpected(
            ConfigError::create(DiagnosticCode::ErrConfigParse, "failed to parse YAML frontmatter")
                .with_source(make_source(std::move(raw.error())))
                .with_recovery_hint(RecoveryHint::ReviewConfiguration{"frontmatter"}));
    }
    return std::move(*raw);
}

std::expected<ParsedTemplate, ComposeError> parse_template_document(std::string_view text) {
    auto split = split_document(text);
    if (!split) {
        return std::unexpected(std::move(split.error()));
    }
    std::vector<RawFrontmatter> raws;
    raws.reserve(split->blocks.size());
    for (std::string_view block : split->blocks) {
        auto raw = read_raw_frontmatter(block);
        if (!raw) {
            return std::unexpected(std::move(raw.error()));
        }
        raws.push_back(std::move(*raw));
    }
    ParsedTemplate parsed;
    parsed.passes.reserve(raws.size());
    for (const RawFrontmatter& raw : raws) {
        auto frontmatter = normalize_frontmatter(raw);
        if (!frontmatter) {
            return std::unexpected(std::move(frontmatter.error()));
        }
        parsed.passes.push_back(std::move(*frontmatter));
    }
    if (auto checked = validate_explicit_pass_numbers(parsed.passes); !checked) {
        return std::unexpected(std::move(checked.error()));
    }
    parsed.body = std::string(split->body);
    return parsed;
}

std::map<std::uint8_t, std::set<VariableName>> discover_all_pass_tokens(const ParsedTemplate& parsed) {
    std::map<std::uint8_t, std::set<VariableName>> tokens;
    for (const Frontmatter& frontmatter : parsed.passes) {
        if (!tokens.contains(frontmatter.pass_number)) {
            tokens.emplace(
                frontmatter.pass_number,
                discover_tokens_with_brace_count(parsed.body, std::uint64_t{frontmatter.pass_number} + 1));
        }
    }
    return tokens;
}

}  // namespace zelk::composer
