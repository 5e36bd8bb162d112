// Template documents: splitting into stacked frontmatter blocks, reading the key table,
// normalising passes, and the per-pass token map.

#include <gtest/gtest.h>

#include <string>

#include "composer/frontmatter/normalizer.hpp"
#include "composer/frontmatter/parser.hpp"

namespace zelk::composer {
namespace {

ParsedTemplate parse_ok(std::string_view text) {
    auto parsed = parse_template_document(text);
    EXPECT_TRUE(parsed.has_value()) << text << "\n-> " << (parsed ? "" : parsed.error().display());
    return parsed ? *parsed : ParsedTemplate{};
}

std::vector<std::string> names(const std::vector<VariableName>& list) {
    std::vector<std::string> texts;
    for (const VariableName& name : list) {
        texts.push_back(name.as_str());
    }
    return texts;
}

TEST(DocumentSplitting, BlocksAndBody) {
    struct Case {
        std::string_view text;
        std::size_t passes;
        std::string_view body;
    };
    const Case cases[] = {
        {"Hello {{ name }}", 0, "Hello {{ name }}"},
        {"\xEF\xBB\xBFHello", 0, "Hello"},
        {"\xEF\xBB\xBF---\n---\nbody", 1, "body"},
        {"---\nrequired_variables: [name]\n---\nHello {{ name }}", 1, "Hello {{ name }}"},
        {"--- \t\r\na: 1\r\n...\r\nbody\r\n", 1, "body\r\n"},
        {"---\na: 1\n---", 1, ""},
        {"---\n---\n", 1, ""},
        {"---\n---\r\r\nx", 1, "x"},
        {"---x\nbody", 0, "---x\nbody"},
        {"----\n---\n", 0, "----\n---\n"},
        // Stacked blocks; a blank line between blocks ends the frontmatter.
        {"---\npass: 1\n---\n---\npass: 2\n---\nbody", 2, "body"},
        {"---\n---\n\n---\npass: 2\n---\nbody", 1, "\n---\npass: 2\n---\nbody"},
        // Later blocks that are not frontmatter stay in the body.
        {"---\n---\n---\nunknown: 1\n---\nbody", 1, "---\nunknown: 1\n---\nbody"},
        {"---\n---\n---\npass: {{ n }}\n---\nbody", 1, "---\npass: {{ n }}\n---\nbody"},
        {"---\n---\n---\n{# c #}\n---\nbody", 1, "---\n{# c #}\n---\nbody"},
        {"---\n---\n---\n- a\n- b\n---\nbody", 1, "---\n- a\n- b\n---\nbody"},
        {"---\n---\n---\n# only a comment\n---\nbody", 1, "---\n# only a comment\n---\nbody"},
        {"---\n---\n---\n{1: x}\n---\nbody", 1, "---\n{1: x}\n---\nbody"},
        {"---\n---\n---\na: [\n---\nbody", 1, "---\na: [\n---\nbody"},
        {"---\n---\n---\n  \n---\nbody", 2, "body"},
        // A later opener that never closes is body text: a Markdown rule after the frontmatter.
        {"---\ntitle: x\n---\nIntro\n", 1, "Intro\n"},
        {"---\npass: 1\n---\n---\nText under a rule\n", 1, "---\nText under a rule\n"},
        {"---\n---\n---", 1, "---"},
        {"---\n---\n---\n", 1, "---\n"},
    };
    for (const Case& c : cases) {
        const ParsedTemplate parsed = parse_ok(c.text);
        EXPECT_EQ(parsed.passes.size(), c.passes) << c.text;
        EXPECT_EQ(parsed.body, c.body) << c.text;
    }
}

TEST(DocumentSplitting, AnUnclosedFirstBlockFails) {
    for (std::string_view text :
         {"---", "---  ", "---\n", "---\na: 1\n", "---\na: 1\n--- \n", "\xEF\xBB\xBF---\r\n"}) {
        auto parsed = parse_template_document(text);
        ASSERT_FALSE(parsed.has_value()) << text;
        const auto* error = parsed.error().get_if<ConfigError>();
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code, DiagnosticCode::ErrConfigParse);
        EXPECT_EQ(error->message, "frontmatter block started with `---` but no closing delimiter was found");
        EXPECT_EQ(error->recovery_hints,
                  std::vector<RecoveryHint>{RecoveryHint::ReviewConfiguration{"frontmatter"}});
        EXPECT_EQ(error->source, nullptr);
    }
}

TEST(FrontmatterReading, KeyTable) {
    const ParsedTemplate parsed = parse_ok(
        "---\n"
        "pass: 3\n"
        "required_variables: [b, a]\n"
        "variables: {z: {required: true, doc: x}, y: {required: false}, x: , w: {}}\n"
        "defaults: {n: 0x1F, s: 0123, q: \"12\", y: yes, e: ~, f: 1e3}\n"
        "metadata: {tagged: !t 1, list: [1, a]}\n"
        "json_escape_mode: legacy\n"
        "unknown: [whatever, {}]\n"
        "---\n");
    ASSERT_EQ(parsed.passes.size(), 1u);
    const Frontmatter& fm = parsed.passes[0];
    EXPECT_EQ(fm.pass_number, 3);
    EXPECT_TRUE(fm.explicit_pass);
    EXPECT_EQ(names(fm.required_variables), (std::vector<std::string>{"b", "a", "z"}));
    EXPECT_EQ(fm.json_escape_mode, JsonEscapeMode::Legacy);
    const auto name = [](const char* text) { return *VariableName::create(text); };
    const VariableMap expected_defaults = {
        {name("e"), InputValue()},     {name("f"), InputValue(1000.0)}, {name("n"), InputValue(31)},
        {name("q"), InputValue("12")}, {name("s"), InputValue("0123")}, {name("y"), InputValue("yes")},
    };
    EXPECT_EQ(fm.defaults, expected_defaults);
    ASSERT_EQ(fm.metadata.size(), 2u);
    EXPECT_NE(fm.metadata.at("tagged").get_if<MetadataValue::Tagged>(), nullptr);
    EXPECT_TRUE(fm.diagnostics.empty());
}

TEST(FrontmatterReading, EmptyValuesAndNulls) {
    const ParsedTemplate parsed = parse_ok(
        "---\npass:\nrequired_variables:\nvariables:\ndefaults:\nmetadata:\njson_escape_mode: ~\n---\n"
        "---\n---\n"
        "---\n# nothing but a comment\n---\n");
    ASSERT_EQ(parsed.passes.size(), 2u) << "a comment-only later block is not a mapping";
    for (const Frontmatter& fm : parsed.passes) {
        EXPECT_EQ(fm, Frontmatter{});
    }
    EXPECT_EQ(parsed.body, "---\n# nothing but a comment\n---\n");
}

TEST(FrontmatterReading, UnreadableBlocksFailWithTheReaderAsSource) {
    struct Case {
        std::string_view content;
        std::string_view cause;
    };
    const Case cases[] = {
        {"a: [", "line"},
        {"pass: 1\npass: 2", "duplicate field `pass`"},
        {"pass: 256", "expected an integer from 0 to 255"},
        {"pass: -1", "expected an integer from 0 to 255"},
        {"pass: \"2\"", "invalid type: string \"2\""},
        {"pass: 2.0", "invalid type: floating point"},
        {"required_variables: a", "expected a sequence of strings"},
        {"required_variables: ~", "expected a sequence of strings"},
        {"required_variables: [1]", "required_variables[0]: invalid type: integer `1`"},
        {"variables: {x: {required: yes}}", "variables.x.required: invalid type: string \"yes\""},
        {"variables: {x: 1}", "expected a mapping"},
        {"variables: {x: {required: true, required: false}}", "duplicate field `required`"},
        {"defaults: [1]", "defaults: invalid type: sequence, expected a mapping"},
        {"defaults: {1: a}", "defaults key: invalid type: integer `1`"},
        {"metadata: ~", "expected a mapping"},
        {"json_escape_mode: Auto", "unknown variant `Auto`, expected `legacy` or `auto`"},
        {"json_escape_mode: 1", "json_escape_mode: invalid type"},
        {"- a", "expected a mapping of frontmatter keys"},
        {"defaults: {a: 18446744073709551616}", "does not fit in 64 bits"},
        {"defaults: {a: !!int x}", "invalid value `x`"},
        {"a: &x 1\nb: *y", "unknown anchor"},
    };
    for (const Case& c : cases) {
        auto parsed = parse_template_document("---\n" + std::string(c.content) + "\n---\nbody");
        ASSERT_FALSE(parsed.has_value()) << c.content;
        const auto* error = parsed.error().get_if<ConfigError>();
        ASSERT_NE(error, nullptr) << c.content;
        EXPECT_EQ(error->code, DiagnosticCode::ErrConfigParse);
        EXPECT_EQ(error->message, "failed to parse YAML frontmatter");
        EXPECT_EQ(error->recovery_hints,
                  std::vector<RecoveryHint>{RecoveryHint::ReviewConfiguration{"frontmatter"}});
        ASSERT_NE(error->source, nullptr);
        EXPECT_NE(error->source->display().find(c.cause), std::string::npos)
            << c.content << " -> " << error->source->display();
    }
}

TEST(FrontmatterNormalising, NameAndDefaultErrors) {
    struct Case {
        std::string_view content;
        DiagnosticCode code;
        std::string_view message;
        std::optional<std::string_view> hint;
        bool validation;
    };
    const Case cases[] = {
        {"required_variables: [a b]", DiagnosticCode::ErrConfigParse,
         "invalid frontmatter variable name: invalid variable name `a b`", "required_variables", false},
        {"variables: {\"x/y\": {required: true}}", DiagnosticCode::ErrConfigParse,
         "invalid frontmatter variable name: invalid variable name `x/y`", "variables", false},
        {"required_variables: [x]\nvariables: {x: {required: true}}", DiagnosticCode::ErrValDuplicate,
         "duplicate frontmatter variable declaration: x", "required_variables", true},
        {"required_variables: [x, x]", DiagnosticCode::ErrValDuplicate,
         "duplicate frontmatter variable declaration: x", "required_variables", true},
        {"defaults: {bad name: 1}", DiagnosticCode::ErrConfigParse,
         "invalid frontmatter default variable name: invalid variable name `bad name`", "default", false},
        {"input_defaults: {\"\": 1}", DiagnosticCode::ErrConfigParse,
         "invalid frontmatter input_defaults variable name: invalid variable name ``", "input_defaults",
         false},
        {"defaults: {a: .inf}", DiagnosticCode::ErrValObjectShape, "expected a JSON-compatible number",
         std::nullopt, true},
        {"defaults: {a: {1: x}}", DiagnosticCode::ErrValObjectShape, "expected object/map keys to be strings",
         std::nullopt, true},
    };
    for (const Case& c : cases) {
        auto parsed = parse_template_document("---\n" + std::string(c.content) + "\n---\n");
        ASSERT_FALSE(parsed.has_value()) << c.content;
        const ComposeError& error = parsed.error();
        EXPECT_EQ(error.code(), c.code) << c.content;
        EXPECT_EQ(error.message(), c.message);
        EXPECT_EQ(error.source(), nullptr);
        std::vector<RecoveryHint> expected_hints;
        if (c.hint) {
            expected_hints.emplace_back(RecoveryHint::ReviewConfiguration{std::string(*c.hint)});
        }
        if (c.validation) {
            ASSERT_NE(error.get_if<ValidationError>(), nullptr) << c.content;
            EXPECT_EQ(error.get_if<ValidationError>()->recovery_hints, expected_hints);
            EXPECT_TRUE(error.get_if<ValidationError>()->diagnostics.empty());
        } else {
            ASSERT_NE(error.get_if<ConfigError>(), nullptr) << c.content;
            EXPECT_EQ(error.get_if<ConfigError>()->recovery_hints, expected_hints);
        }
    }
}

TEST(FrontmatterNormalising, DefaultsMergeAndWarn) {
    const ParsedTemplate both = parse_ok("---\ndefaults: {a: 1, b: 1}\ninput_defaults: {a: 2}\n---\n");
    const Frontmatter& fm = both.passes.at(0);
    EXPECT_EQ(fm.defaults.at(*VariableName::create("a")), InputValue(2));
    EXPECT_EQ(fm.defaults.at(*VariableName::create("b")), InputValue(1));
    ASSERT_EQ(fm.diagnostics.size(), 1u);
    const Diagnostic& warning = fm.diagnostics[0];
    EXPECT_EQ(warning.severity, DiagnosticSeverity::Warning);
    EXPECT_EQ(warning.code, DiagnosticCode::WarnValConflictingDefaultSections);
    EXPECT_EQ(warning.message,
              "frontmatter contains both `defaults` and `input_defaults`; `input_defaults` overrides "
              "overlapping keys");
    EXPECT_FALSE(warning.path.has_value());

    EXPECT_TRUE(
        parse_ok("---\ndefaults: {}\ninput_defaults: {a: 2}\n---\n").passes.at(0).diagnostics.empty());
    EXPECT_EQ(
        parse_ok("---\nvariables: {x: {required: false}}\n---\n").passes.at(0).required_variables.size(), 0u);
}

TEST(FrontmatterNormalising, PassNumbers) {
    struct Case {
        std::string_view text;
        std::optional<std::string_view> error;
        std::vector<int> numbers;
    };
    const Case cases[] = {
        {"---\n---\n---\n---\n", std::nullopt, {1, 1}},
        {"---\npass: 0\n---\n", std::nullopt, {1}},
        {"---\npass: 2\n---\n---\npass: 1\n---\n", std::nullopt, {2, 1}},
        {"---\npass: 2\n---\n---\npass: 2\n---\n",
         "duplicate explicit pass number in stacked frontmatter: 2",
         {}},
        {"---\npass: 0\n---\n---\npass: 1\n---\n",
         "duplicate explicit pass number in stacked frontmatter: 1",
         {}},
        {"---\npass: 1\n---\n---\n---\n", std::nullopt, {1, 1}},
    };
    for (const Case& c : cases) {
        auto parsed = parse_template_document(c.text);
        if (c.error) {
            ASSERT_FALSE(parsed.has_value()) << c.text;
            ASSERT_NE(parsed.error().get_if<ValidationError>(), nullptr);
            EXPECT_EQ(parsed.error().code(), DiagnosticCode::ErrConfigParse);
            EXPECT_EQ(parsed.error().message(), *c.error);
            EXPECT_TRUE(parsed.error().get_if<ValidationError>()->recovery_hints.empty());
            continue;
        }
        ASSERT_TRUE(parsed.has_value()) << c.text;
        std::vector<int> numbers;
        for (const Frontmatter& fm : parsed->passes) {
            numbers.push_back(fm.pass_number);
        }
        EXPECT_EQ(numbers, c.numbers) << c.text;
    }
    EXPECT_TRUE(parse_ok("---\npass: 0\n---\n").passes[0].explicit_pass);
    EXPECT_FALSE(parse_ok("---\npass: null\n---\n").passes[0].explicit_pass);
}

TEST(FrontmatterParsing, ReadFailuresComeBeforeNormalisingFailures) {
    auto parsed = parse_template_document("---\nrequired_variables: [a b]\n---\n---\npass: 300\n---\n");
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error().message(), "failed to parse YAML frontmatter");
}

TEST(PassTokens, OneEntryPerPassNumber) {
    const ParsedTemplate parsed =
        parse_ok("---\n---\n---\npass: 2\n---\n---\n---\n{{ b }} {{ a }} {{{ c }}} {{ a }}");
    const auto tokens = discover_all_pass_tokens(parsed);
    ASSERT_EQ(tokens.size(), 2u);
    const auto texts = [](const std::set<VariableName>& set) {
        std::vector<std::string> out;
        for (const VariableName& name : set) {
            out.push_back(name.as_str());
        }
        return out;
    };
    EXPECT_EQ(texts(tokens.at(1)), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(texts(tokens.at(2)), (std::vector<std::string>{"c"}));
    EXPECT_TRUE(discover_all_pass_tokens(parse_ok("{{ a }}")).empty());
}

TEST(FrontmatterParsing, HostileBlocksEndInErrors) {
    const std::string deep = "---\ndefaults: {a: " + std::string(100000, '[') + "}\n---\n";
    auto parsed = parse_template_document(deep);
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error().message(), "failed to parse YAML frontmatter");
    EXPECT_NE(parsed.error().source()->display().find("nesting depth"), std::string::npos);
}

}  // namespace
}  // namespace zelk::composer
