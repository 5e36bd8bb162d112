// The policy checks and the validate entry points: every rule's findings with their codes,
// severities, paths, chains and locations, and the observer calls of a validation.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "composer/validate.hpp"
#include "composer/validation/diagnostics.hpp"
#include "composer/validation/required_paths.hpp"
#include "scratch_tree.hpp"
#include "validation_fixture.hpp"

namespace zelk::composer {
namespace {

using testing::FileSpec;
using Strings = std::vector<std::string>;

VariableName name(std::string_view text) {
    return *VariableName::create(text);
}

const std::filesystem::path kRoot = "/ws/root.md";
const std::filesystem::path kJsonRoot = "/ws/config.json.j2";
const std::filesystem::path kPartial = "/ws/partial.md";

InputValue object(std::initializer_list<std::pair<const std::string, InputValue>> members) {
    return InputValue(InputValue::Object(members));
}

struct RuleCase {
    const char* label;
    std::vector<FileSpec> files;
    std::function<void(ComposeRequest&)> adjust;
    Strings warnings;
    Strings errors;
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.label;
}

class RuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, Findings) {
    const RuleCase& c = GetParam();
    ComposeRequest request = testing::file_request(c.files.front().path);
    if (c.adjust) {
        c.adjust(request);
    }
    const ExpandedTemplate expanded = testing::expanded_from(c.files);
    auto [report, state] = validate_expanded_with_delimiters(
        request, expanded, ResolveResult{c.files.front().path, {c.files.front().path}, {}}, std::nullopt);
    EXPECT_EQ(testing::summaries(report.warnings), c.warnings);
    EXPECT_EQ(testing::summaries(report.errors), c.errors);
    EXPECT_EQ(report.ok, c.errors.empty());
    EXPECT_EQ(report.resolve_result.resolved_path, c.files.front().path);
}

std::string label_of(const ::testing::TestParamInfo<RuleCase>& info) {
    std::string label = info.param.label;
    for (char& ch : label) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return label;
}

const std::string kDeclaresName = "---\nrequired_variables: [name]\n---\n";

INSTANTIATE_TEST_SUITE_P(
    EmptyBodyAndFrontmatter, RuleTest,
    ::testing::Values(
        RuleCase{"whitespace body",
                 {{kRoot, "---\ntitle: x\n---\n \n\t\n"}},
                 {},
                 {},
                 {"error ERR_VAL_EMPTY template body is empty @root.md"}},
        RuleCase{"root without frontmatter",
                 {{kRoot, "Hello {{ name }}"}},
                 {},
                 {"warning ERR_VAL_MISSING_FRONTMATTER root template has no frontmatter; run `zelk-compose "
                  "frontmatter-init /ws/root.md` @root.md",
                  "warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: name @root.md"},
                 {}},
        RuleCase{"included files without frontmatter, with and without tokens",
                 {{kRoot, kDeclaresName + "{{ name }}"},
                  {kPartial, "{{ name }}"},
                  {"/ws/plain.md", "no tokens here"}},
                 {},
                 {"warning ERR_VAL_MISSING_FRONTMATTER included file has no frontmatter; run `zelk-compose "
                  "frontmatter-init /ws/partial.md` @partial.md"},
                 {"error ERR_VAL_MISSING_REQUIRED missing required variable: name @root.md chain=root.md"}},
        RuleCase{"frontmatter findings are copied",
                 {{kRoot, "---\ndefaults: {a: 1}\ninput_defaults: {a: 2}\n---\nbody\n"}},
                 {},
                 {"warning WARN_VAL_CONFLICTING_DEFAULT_SECTIONS frontmatter contains both `defaults` and "
                  "`input_defaults`; `input_defaults` overrides overlapping keys"},
                 {}}),
    label_of);

INSTANTIATE_TEST_SUITE_P(
    JsonEscapeMode, RuleTest,
    ::testing::Values(
        RuleCase{"markdown with a declared mode",
                 {{kRoot, "---\njson_escape_mode: auto\n---\nbody\n"}},
                 {},
                 {},
                 {"error ERR_JSON_ESCAPE_MODE_NON_JSON JSON escape mode is only valid for JSON templates "
                  "@root.md"}},
        RuleCase{"markdown with a policy mode",
                 {{kRoot, "---\ntitle: x\n---\nbody\n"}},
                 [](ComposeRequest& r) { r.policy.json_escape_mode = JsonEscapeMode::Legacy; },
                 {},
                 {"error ERR_JSON_ESCAPE_MODE_NON_JSON JSON escape mode is only valid for JSON templates "
                  "@root.md"}},
        RuleCase{
            "legacy mode and quoted placeholders",
            {{kJsonRoot,
              "---\njson_escape_mode: legacy\ndefaults:\n  n: 3\n  s: text\n---\n"
              "{\"n\": \"{{ n }}\", \"s\": \"{{ s }}\", \"bare\": {{ n }}, \"sp\": \"  {{n}}  \"}\n"}},
            {},
            {"warning WARN_JSON_LEGACY_ESCAPE_MODE Template uses legacy JSON escape mode. Migrate to bare "
             "placeholders (auto mode) to avoid double-quoting issues. See "
             "docs/migration/json-escape-mode.md "
             "@config.json.j2",
             "info INFO_VAL_DEFAULT_USED variable n not provided, using default: 3 @config.json.j2",
             "info INFO_VAL_DEFAULT_USED variable s not provided, using default: \"text\" @config.json.j2"},
            {"error ERR_JSON_LEGACY_NON_STRING legacy JSON escape mode requires a string value for quoted "
             "placeholder `n` @config.json.j2",
             "error ERR_JSON_LEGACY_NON_STRING legacy JSON escape mode requires a string value for quoted "
             "placeholder `n` @config.json.j2"}},
        RuleCase{
            "included file declaring another mode",
            {{kJsonRoot, "---\njson_escape_mode: legacy\n---\n{}\n"},
             {kPartial, "---\njson_escape_mode: auto\n---\n---\njson_escape_mode: legacy\n---\nx\n"},
             {"/ws/same.md", "---\njson_escape_mode: legacy\n---\nx\n"}},
            {},
            {"warning WARN_JSON_LEGACY_ESCAPE_MODE Template uses legacy JSON escape mode. Migrate to bare "
             "placeholders (auto mode) to avoid double-quoting issues. See "
             "docs/migration/json-escape-mode.md "
             "@config.json.j2"},
            {"error ERR_JSON_MODE_INCLUDE_CONFLICT included template JSON escape mode conflicts with root: "
             "root `/ws/config.json.j2` uses effective mode `legacy`, but included template `/ws/partial.md` "
             "declares `auto`; included templates must match the root mode @config.json.j2 "
             "chain=config.json.j2>partial.md"}},
        RuleCase{"policy mode overrides the root's",
                 {{kJsonRoot, "---\njson_escape_mode: legacy\n---\n{\"a\": \"{{ 1 }}\"}\n"}},
                 [](ComposeRequest& r) { r.policy.json_escape_mode = JsonEscapeMode::Auto; },
                 {},
                 {}}),
    label_of);

INSTANTIATE_TEST_SUITE_P(
    DefaultsUsed, RuleTest,
    ::testing::Values(
        RuleCase{
            "frontmatter, included and caller defaults",
            {{kRoot,
              "---\ndefaults:\n  a: {z: [1, 2.5, \"q\\\"\"], b: null}\n  unused: 1\n  req: x\n"
              "required_variables: [req.part]\n---\n{{ a }} {{ inc }} {{ caller.x }}\n"},
             {kPartial, "---\ndefaults:\n  inc: true\n---\nx\n"}},
            [](ComposeRequest& r) {
                r.vars_defaults[name("caller")] = object({{"x", 1}});
            },
            {"info INFO_VAL_DEFAULT_USED variable a not provided, using default: {\"b\":null,\"z\":[1,2.5,"
             "\"q\\\"\"]} @root.md",
             "info INFO_VAL_DEFAULT_USED variable caller not provided, using default: {\"x\":1}",
             "info INFO_VAL_DEFAULT_USED variable inc not provided, using default: true @partial.md",
             "info INFO_VAL_DEFAULT_USED variable req not provided, using default: \"x\" @root.md",
             "warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: caller.x @root.md"},
            {"error ERR_VAL_SHAPE_MISMATCH required nested field path req.part expected an object at req "
             "@root.md chain=root.md"}},
        RuleCase{"multi-pass default used only by another pass",
                 {{kRoot,
                   "---\npass: 1\ndefaults:\n  late: 1\n---\n---\npass: 2\nrequired_variables: [x]\n---\n"
                   "{{{ late }}} {{ x }}\n"}},
                 [](ComposeRequest& r) { r.vars_input[name("x")] = 1; },
                 {"warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: late @root.md",
                  "warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: x @root.md"},
                 {}}),
    label_of);

INSTANTIATE_TEST_SUITE_P(
    RequiredPaths, RuleTest,
    ::testing::Values(
        RuleCase{
            "nested field behind a string",
            {{kRoot, "---\nrequired_variables:\n  - user.address.city\n---\n{{ user.address.city }}\n"}},
            [](ComposeRequest& r) {
                r.vars_input[name("user")] = object({{"address", "x"}});
            },
            {},
            {"error ERR_VAL_SHAPE_MISMATCH required nested field path user.address.city expected an object "
             "at user.address @root.md:3:5 chain=root.md"}},
        RuleCase{
            "nested field missing",
            {{kRoot, "---\nrequired_variables:\n  - user.address.city\n---\n{{ user.address.city }}\n"}},
            [](ComposeRequest& r) {
                r.vars_input[name("user")] = object({{"name", "x"}});
            },
            {},
            {"error ERR_VAL_MISSING_NESTED_FIELD missing required nested field: user.address @root.md:3:5 "
             "chain=root.md"}},
        RuleCase{"nested field checked in every list element",
                 {{kRoot, "---\nrequired_variables: [users.name]\n---\n{{ users.name }}\n"}},
                 [](ComposeRequest& r) {
                     r.vars_input[name("users")] =
                         InputValue(InputValue::Array{object({{"name", "a"}}), object({{"id", 1}})});
                 },
                 {},
                 {"error ERR_VAL_MISSING_NESTED_FIELD missing required nested field: users.name @root.md "
                  "chain=root.md"}},
        RuleCase{
            "list consumed by a for loop given a string",
            {{kRoot, "---\nrequired_variables: [items]\n---\n{% for i in items %}{{ i }}{% endfor %}\n"}},
            [](ComposeRequest& r) { r.vars_input[name("items")] = "abc"; },
            {},
            {"error ERR_VAL_ARRAY_SHAPE_MISMATCH required variable items is consumed as a list via `{% for "
             "%}` but received string @root.md chain=root.md"}},
        RuleCase{"list consumed by a for loop given a list, or declared with fields",
                 {{kRoot,
                   "---\nrequired_variables: [items, rows, rows.id]\n---\n"
                   "{% for i in items %}{% endfor %}{% for r in rows %}{{ r.id }}{% endfor %}\n"}},
                 [](ComposeRequest& r) {
                     r.vars_input[name("items")] = InputValue(InputValue::Array{1});
                     r.vars_input[name("rows")] = object({{"id", 1}});
                 },
                 {},
                 {}}),
    label_of);

INSTANTIATE_TEST_SUITE_P(
    VariablePolicies, RuleTest,
    ::testing::Values(
        RuleCase{"strict undeclared tokens are errors",
                 {{kRoot, "Hello {{ name }}"}},
                 [](ComposeRequest& r) { r.policy.strict_undeclared_variables = true; },
                 {"warning ERR_VAL_MISSING_FRONTMATTER root template has no frontmatter; run `zelk-compose "
                  "frontmatter-init /ws/root.md` @root.md"},
                 {"error ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: name @root.md"}},
        RuleCase{"extra provided variables by top-level name",
                 {{kRoot, kDeclaresName + "{{ name }} {{ user.name }}"}},
                 [](ComposeRequest& r) {
                     r.policy.unknown_variable_policy = UnknownVariablePolicy::Error;
                     r.policy.unbound_variable_policy = UnknownVariablePolicy::Ignore;
                     r.vars_input[name("name")] = "n";
                     r.vars_input[name("x")] = 1;
                     r.vars_env[name("env.sub")] = 1;
                     r.vars_input[name("user")] = object({});
                     r.vars_defaults[name("unused_default")] = 1;
                 },
                 {"warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: user.name @root.md"},
                 {"error ERR_VAL_EXTRA_INPUT extra provided variable: env @root.md",
                  "error ERR_VAL_EXTRA_INPUT extra provided variable: x @root.md"}},
        RuleCase{"unbound variables warned, built-ins and present paths skipped",
                 {{kRoot,
                   "---\nrequired_variables: [user]\n---\n{{ user.name }} {{ team.name }} {{ HOSTNAME }} "
                   "{{ missing }}\n"}},
                 [](ComposeRequest& r) {
                     r.policy.unbound_variable_policy = UnknownVariablePolicy::Warn;
                     r.vars_input[name("user")] = object({{"id", 1}});
                     r.vars_input[name("team")] =
                         InputValue(InputValue::Array{object({{"name", "a"}}), object({{"name", "b"}})});
                 },
                 {"warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: missing @root.md",
                  "warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: team.name @root.md",
                  "warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: user.name @root.md",
                  "warning ERR_VAL_UNBOUND_VARIABLE unbound variable: missing @root.md",
                  "warning ERR_VAL_UNBOUND_VARIABLE unbound variable: user.name @root.md"},
                 {}},
        RuleCase{"unbound follows the unknown-variable policy when unset",
                 {{kRoot, kDeclaresName + "{{ name }}"}},
                 [](ComposeRequest& r) { r.policy.unknown_variable_policy = UnknownVariablePolicy::Error; },
                 {},
                 {"error ERR_VAL_MISSING_REQUIRED missing required variable: name @root.md chain=root.md",
                  "error ERR_VAL_UNBOUND_VARIABLE unbound variable: name @root.md"}},
        RuleCase{"multi-pass tokens need a declaration in their own pass",
                 {{kRoot,
                   "---\npass: 1\nrequired_variables: [a]\n---\n---\npass: 2\nrequired_variables: [b]\n---\n"
                   "{{ a }} {{ b }} {{{ b }}} {{{ a }}} {{ c }} {{{ c }}}\n"},
                  {kPartial, "---\nrequired_variables: [a, c]\n---\nx\n"}},
                 [](ComposeRequest& r) {
                     r.vars_input[name("a")] = 1;
                     r.vars_input[name("b")] = 2;
                     r.vars_input[name("c")] = 3;
                 },
                 // Only names no root block declares count for every pass.
                 {"warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: a @root.md",
                  "warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: b @root.md"},
                 {}}),
    label_of);

TEST(PolicyDiagnostics, RulesKeepTheirOrder) {
    const auto expanded = testing::expanded_from({
        {kJsonRoot,
         "---\njson_escape_mode: legacy\nrequired_variables: [need]\ndefaults:\n  d: 1\n---\n"
         "\"{{ d }}\" {{ stray }}\n"},
        {kPartial, "{{ stray }}"},
    });
    ComposeRequest request = testing::file_request(kJsonRoot);
    request.policy.strict_undeclared_variables = true;
    request.policy.unknown_variable_policy = UnknownVariablePolicy::Warn;
    request.vars_input[name("extra")] = 1;
    const PolicyDiagnostics findings =
        collect_policy_diagnostics(request, expanded, kJsonRoot, collect_validation_state(request, expanded));
    std::vector<std::string> warning_codes, error_codes;
    for (const auto& d : findings.warnings)
        warning_codes.emplace_back(as_str(d.code));
    for (const auto& d : findings.errors)
        error_codes.emplace_back(as_str(d.code));
    EXPECT_EQ(warning_codes,
              (Strings{"ERR_VAL_MISSING_FRONTMATTER", "WARN_JSON_LEGACY_ESCAPE_MODE", "INFO_VAL_DEFAULT_USED",
                       "ERR_VAL_EXTRA_INPUT", "ERR_VAL_UNBOUND_VARIABLE"}));
    EXPECT_EQ(error_codes, (Strings{"ERR_JSON_LEGACY_NON_STRING", "ERR_VAL_MISSING_REQUIRED",
                                    "ERR_VAL_UNDECLARED_TOKEN"}));
}

TEST(PolicyDiagnostics, CustomDelimitersReplaceTheTokens) {
    const auto expanded = testing::expanded_from({{kRoot, kDeclaresName + "[[ other ]] {{ name }}"}});
    ComposeRequest request = testing::file_request(kRoot);
    request.vars_input[name("name")] = 1;
    auto [report, state] =
        validate_expanded_with_delimiters(request, expanded, ResolveResult{kRoot, {kRoot}, {}},
                                          ExpressionDelimiters::with_delimiters("[[", "]]"));
    EXPECT_EQ(testing::summaries(report.warnings),
              (Strings{"warning ERR_VAL_UNDECLARED_TOKEN undeclared referenced token: other @root.md"}));
    EXPECT_EQ(state.referenced.size(), 1u);
}

TEST(RequiredPaths, ValidateRequiredPath) {
    ValidationState state;
    state.values[name("user")] = object({{"tags", InputValue(InputValue::Array{})}, {"age", 3}});
    using Kind = RequiredPathResult::Kind;
    const std::pair<const char*, RequiredPathResult> cases[] = {
        {"user", {Kind::Present, ""}},
        {"user.age", {Kind::Present, ""}},
        {"user.tags.x", {Kind::Present, ""}},  // an empty list has nothing to miss
        {"user.age.x", {Kind::NotAnObject, "user.age"}},
        {"user.name.first", {Kind::MissingNestedField, "user.name"}},
        {"nobody", {Kind::Missing, ""}},
        {".user", {Kind::Missing, ""}},
        {"user..x", {Kind::MissingNestedField, "user."}},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(validate_required_path(state, path), expected) << path;
    }
}

TEST(RequiredPaths, DeclarationLocation) {
    struct Case {
        const char* text;
        const char* name;
        std::optional<SourceLocation> location;
    };
    const Case cases[] = {
        {"---\ntitle: x\nrequired_variables:\n  - name\n---\n", "name", SourceLocation{4, 5}},
        {"---\r\nrequired_variables:\r\n\r\n- other\r\n-   name\r\n- name\r\n---\r\n", "name",
         SourceLocation{6, 3}},
        {" --- \nrequired_variables:\n  - a\n  x\n  - name\n", "name", SourceLocation{5, 5}},
        {"---\nrequired_variables: [name]\n---\n", "name", std::nullopt},
        {"---\nrequired_variables:\n  - \"name\"\n---\n", "name", std::nullopt},
        {"---\nrequired_variables:\n  - a\nvariables:\n  - name\n---\n", "name", std::nullopt},
        {"---\nrequired_variables:\n...\n  - name\n", "name", std::nullopt},
        {"title: x\n---\nrequired_variables:\n  - name\n", "name", std::nullopt},
        {"---\nrequired_variables:\n  - names\n", "name", std::nullopt},
        // The column is the item's, even when the name also appears in the bullet.
        {"---\nrequired_variables:\n  - -\n", "-", SourceLocation{3, 5}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(required_variable_location(c.text, c.name), c.location) << c.text;
    }
}

TEST(PolicyDiagnostics, ManyDeclarationsInOneFileAreLocatedInOnePass) {
    constexpr int kCount = 20000;
    std::string text = "---\nrequired_variables:\n";
    for (int i = 0; i < kCount; ++i) {
        text += fmt::format("  - v{}\n", i);
    }
    text += "---\n{% for x in v1 %}{% endfor %}\n";
    const auto expanded = testing::expanded_from({{kRoot, text}});
    ComposeRequest request = testing::file_request(kRoot);
    request.vars_input[name("v1")] = "scalar";
    const auto diagnostics = required_path_diagnostics(collect_validation_state(request, expanded));
    ASSERT_EQ(diagnostics.size(), static_cast<std::size_t>(kCount));
    // In byte order: v0, v1, v10, ..., v9999.
    EXPECT_EQ(
        testing::summary(diagnostics[1]),
        "error ERR_VAL_ARRAY_SHAPE_MISMATCH required variable v1 is consumed as a list via `{% for %}` but "
        "received string @root.md:4:5 chain=root.md");
    EXPECT_EQ(testing::summary(diagnostics.back()),
              fmt::format("error ERR_VAL_MISSING_REQUIRED missing required variable: v9999 @root.md:{}:5 "
                          "chain=root.md",
                          9999 + 3));
}

TEST(PolicyDiagnostics, TopLevelNameAndCompactJson) {
    EXPECT_EQ(top_level_variable_name(name("user.name.first")), name("user"));
    EXPECT_EQ(top_level_variable_name(name("plain")), name("plain"));
    EXPECT_EQ(top_level_variable_name(name(".hidden")), name(".hidden"));
    const InputValue value =
        object({{"s", "tab\t\x01\xc3\xa9/"}, {"f", 0.5}, {"big", std::uint64_t{1} << 63}});
    EXPECT_EQ(compact_json(value),
              "{\"big\":9223372036854775808,\"f\":0.5,\"s\":\"tab\\t\\u0001\xc3\xa9/\"}");
}

// Records the hooks in the order they are called.
class RecordingObserver : public CompositionObserver {
  public:
    Strings events;
    void on_resolve_start(std::string_view target) override {
        events.push_back(fmt::format("start {}", target));
    }
    void on_resolve_outcome(const ResolveOutcomeEvent& e) override {
        events.push_back(fmt::format("resolve {} attempted={} code={}", e.resolved_path ? "ok" : "failed",
                                     e.attempted_paths.size(), e.code ? as_str(*e.code) : "-"));
    }
    void on_include_outcome(const IncludeOutcomeEvent& e) override {
        events.push_back(fmt::format("include files={} chain={} code={}", e.resolved_files.size(),
                                     e.include_chain.size(), e.code ? as_str(*e.code) : "-"));
    }
    void on_validation_end(const ValidationEndEvent& e) override {
        events.push_back(fmt::format("validation warnings={} errors={}", e.warnings.size(), e.errors.size()));
    }
};

class ValidateTest : public testing::ScratchTree {
  protected:
    ComposeRequest request_for(const std::string& template_path) {
        ComposeRequest request = testing::file_request(template_path);
        request.root = base_;
        return request;
    }
};

TEST_F(ValidateTest, ObserverSeesEveryStage) {
    write(base_ / "prompts/main.md", "---\nrequired_variables: [who]\n---\nHi {{ who }}\n@<part.md>\n");
    write(base_ / "prompts/part.md", "{{ extra }}\n");
    RecordingObserver observer;
    auto validated = validate_with_observer_and_delimiters_with_expansion(request_for("prompts/main.md"),
                                                                          observer, std::nullopt);
    ASSERT_TRUE(validated.has_value()) << validated.error().display();
    EXPECT_EQ(observer.events, (Strings{"start prompts/main.md", "resolve ok attempted=1 code=-",
                                        "include files=2 chain=0 code=-", "validation warnings=2 errors=1"}));
    const auto& [report, expanded] = *validated;
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.resolve_result.resolved_path, base_ / "prompts/main.md");
    EXPECT_EQ(expanded.resolved_files.size(), 2u);
    EXPECT_EQ(
        testing::summaries(report.errors),
        (Strings{"error ERR_VAL_MISSING_REQUIRED missing required variable: who @main.md chain=main.md"}));

    auto plain = validate(request_for("prompts/main.md"));
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(*plain, report);
}

TEST_F(ValidateTest, ResolveAndIncludeErrorsAreReturnedAfterTheirHook) {
    write(base_ / "bad.md", "---\ntitle: x\n---\n@<missing.md>\n");
    RecordingObserver missing_template;
    auto not_found = validate_with_observer_and_delimiters_with_expansion(request_for("nowhere.md"),
                                                                          missing_template, std::nullopt);
    ASSERT_FALSE(not_found.has_value());
    EXPECT_EQ(not_found.error().code(), DiagnosticCode::ErrResolveNotFound);
    EXPECT_EQ(missing_template.events,
              (Strings{"start nowhere.md", "resolve failed attempted=1 code=ERR_RESOLVE_NOT_FOUND"}));

    RecordingObserver missing_include;
    auto include_failed = validate_with_observer_and_delimiters_with_expansion(request_for("bad.md"),
                                                                               missing_include, std::nullopt);
    ASSERT_FALSE(include_failed.has_value());
    EXPECT_EQ(include_failed.error().code(), DiagnosticCode::ErrIncludeNotFound);
    EXPECT_EQ(missing_include.events, (Strings{"start bad.md", "resolve ok attempted=1 code=-",
                                               "include files=0 chain=1 code=ERR_INCLUDE_NOT_FOUND"}));
}

TEST_F(ValidateTest, FrontmatterErrorsOfIncludedFilesAreReturnedWithoutTheIncludeHook) {
    write(base_ / "main.md", "---\ntitle: x\n---\n@<broken.md>\n");
    write(base_ / "broken.md", "---\n: [\n---\nx\n");
    RecordingObserver observer;
    auto failed =
        validate_with_observer_and_delimiters_with_expansion(request_for("main.md"), observer, std::nullopt);
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error().get_if<IncludeError>(), nullptr);
    EXPECT_EQ(observer.events, (Strings{"start main.md", "resolve ok attempted=1 code=-"}));
}

TEST(ValidateLabels, ProfileRequestsAreLabelledByKindAndName) {
    ComposeRequest request;
    request.mode = ComposeMode::profile(ProfileKind::Agent, *ProfileName::create("reviewer"));
    EXPECT_EQ(resolve_start_label(request), "Agent:reviewer");
    EXPECT_EQ(resolve_start_label(testing::file_request("a\\b/c.md")), "a/b/c.md");
}

}  // namespace
}  // namespace zelk::composer
