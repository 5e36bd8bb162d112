// The validation state: value precedence, declarations, per-pass tokens and the built-ins.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "composer/validation/builtins.hpp"
#include "composer/validation/state.hpp"
#include "validation_fixture.hpp"

namespace zelk::composer {
namespace {

using testing::expanded_from;
using testing::file_request;

VariableName name(std::string_view text) {
    return *VariableName::create(text);
}

TokenSet names(std::initializer_list<std::string_view> texts) {
    TokenSet out;
    for (const auto text : texts) {
        out.insert(name(text));
    }
    return out;
}

const std::filesystem::path kRoot = "/ws/root.md";
const std::filesystem::path kPartial = "/ws/partial.md";

struct PrecedenceCase {
    const char* label;
    bool partial_first;
    std::optional<int> vars_defaults, vars_env, vars_input;
    int value;
    VariableSource source;
    std::optional<std::filesystem::path> origin;
};

class PrecedenceTest : public ::testing::TestWithParam<PrecedenceCase> {};

TEST_P(PrecedenceTest, HighestSourceWins) {
    const PrecedenceCase& c = GetParam();
    testing::FileSpec root{kRoot, "---\ndefaults:\n  a: 1\n---\n{{ a }}\n"};
    testing::FileSpec partial{kPartial, "---\ndefaults:\n  a: 2\n---\npartial\n"};
    // The expanded order decides between frontmatter defaults, not which file is the root.
    auto expanded =
        c.partial_first ? expanded_from({partial, root}, "{{ a }}") : expanded_from({root, partial});
    if (c.partial_first) {
        expanded.resolved_files = {kRoot, kPartial};
    }
    ComposeRequest request = file_request();
    if (c.vars_defaults)
        request.vars_defaults[name("a")] = *c.vars_defaults;
    if (c.vars_env)
        request.vars_env[name("a")] = *c.vars_env;
    if (c.vars_input)
        request.vars_input[name("a")] = *c.vars_input;

    const ValidationState state = collect_validation_state(request, expanded);
    EXPECT_EQ(state.values.at(name("a")), InputValue(c.value));
    EXPECT_EQ(state.sources.at(name("a")), c.source);
    EXPECT_EQ(state.default_origins.at(name("a")), c.origin);
    // Caller-supplied names are never declarations; frontmatter defaults are.
    EXPECT_TRUE(state.declared.contains(name("a")));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PrecedenceTest,
    ::testing::Values(
        PrecedenceCase{"root default first", false, {}, {}, {}, 1, VariableSource::FrontmatterDefault, kRoot},
        PrecedenceCase{
            "included default first", true, {}, {}, {}, 2, VariableSource::IncludedDefault, kPartial},
        PrecedenceCase{
            "input default", false, 3, {}, {}, 3, VariableSource::TemplateInputDefault, std::nullopt},
        PrecedenceCase{"environment", false, 3, 4, {}, 4, VariableSource::Environment, std::nullopt},
        PrecedenceCase{"explicit input", false, 3, 4, 5, 5, VariableSource::ExplicitInput, std::nullopt},
        PrecedenceCase{
            "input over frontmatter only", false, {}, {}, 5, 5, VariableSource::ExplicitInput, kRoot}),
    [](const auto& info) {
        std::string label = info.param.label;
        std::ranges::replace(label, ' ', '_');
        return label;
    });

TEST(ValidationState, CallerNamesAreNotDeclaredAndBuiltinsAre) {
    ComposeRequest request = file_request();
    request.vars_input[name("x")] = "v";
    const ValidationState state = collect_validation_state(request, expanded_from({{kRoot, "{{ x }}"}}));
    EXPECT_FALSE(state.declared.contains(name("x")));
    EXPECT_EQ(state.declared,
              names({"HOSTNAME", "RENDER_DATE", "RENDER_TIMESTAMP", "TEMPLATE_NAME", "USERNAME"}));
    EXPECT_EQ(state.referenced, names({"x"}));
    EXPECT_FALSE(state.is_multi_pass());
    EXPECT_EQ(state.file_texts.at(kRoot), "{{ x }}");
}

TEST(ValidationState, FirstRequiredDeclarationRecordsFileAndChain) {
    const std::filesystem::path nested = "/ws/nested.md";
    const auto expanded = expanded_from({
        {kRoot, "{{ a }}"},
        {kPartial, "---\nrequired_variables: [a, b]\n---\nx\n"},
        {nested, "---\nrequired_variables: [b, c]\n---\ny\n", {kRoot, kPartial, nested}},
    });
    const ValidationState state = collect_validation_state(file_request(), expanded);
    EXPECT_EQ(state.required.at(name("b")), kPartial);
    EXPECT_EQ(state.required.at(name("c")), nested);
    EXPECT_EQ(state.required_include_chains.at(name("b")),
              (std::vector<std::filesystem::path>{kRoot, kPartial}));
    EXPECT_EQ(state.required_include_chains.at(name("c")),
              (std::vector<std::filesystem::path>{kRoot, kPartial, nested}));
}

TEST(ValidationState, MultiPassTokensAndDeclarations) {
    const auto expanded = expanded_from({
        {kRoot,
         "---\npass: 1\nrequired_variables: [a]\ndefaults:\n  d: 1\n---\n"
         "---\npass: 2\nrequired_variables: [b]\ndefaults:\n  d: 2\n---\n"
         "{{ a }} {{{ b }}} {{{ shared }}} {{ d }}\n"},
        {kPartial, "---\nrequired_variables: [shared]\n---\nx\n"},
    });
    const ValidationState state = collect_validation_state(file_request(), expanded);
    ASSERT_TRUE(state.is_multi_pass());
    EXPECT_EQ(state.tokens_by_pass.at(1), names({"a", "d"}));
    EXPECT_EQ(state.tokens_by_pass.at(2), names({"b", "shared"}));
    EXPECT_EQ(state.referenced, names({"a", "b", "d", "shared"}));
    const TokenSet builtins =
        names({"HOSTNAME", "RENDER_DATE", "RENDER_TIMESTAMP", "TEMPLATE_NAME", "USERNAME"});
    TokenSet pass1 = names({"a", "d", "shared"});
    pass1.insert(builtins.begin(), builtins.end());
    TokenSet pass2 = names({"b", "d", "shared"});
    pass2.insert(builtins.begin(), builtins.end());
    // `b` belongs to pass 2 only; the included `shared` is declared for every pass.
    EXPECT_EQ(state.declared_by_pass.at(1), pass1);
    EXPECT_EQ(state.declared_by_pass.at(2), pass2);
    EXPECT_EQ(state.default_passes.at(name("d")), (std::set<std::uint8_t>{1, 2}));
    // The first block's default wins the value.
    EXPECT_EQ(state.values.at(name("d")), InputValue(1));
}

TEST(ValidationState, BlocksSharingAPassNumberKeepTheLaterDeclarations) {
    const auto expanded = expanded_from({{kRoot,
                                          "---\nrequired_variables: [a]\n---\n"
                                          "---\nrequired_variables: [b]\n---\n{{ a }}\n"}});
    const ValidationState state = collect_validation_state(file_request(), expanded);
    ASSERT_EQ(state.declared_by_pass.size(), 1u);
    EXPECT_TRUE(state.declared_by_pass.at(1).contains(name("b")));
    EXPECT_FALSE(state.declared_by_pass.at(1).contains(name("a")));
}

TEST(ValidationState, CustomDelimitersUseTheSinglePassRules) {
    const auto expanded = expanded_from({{kRoot, "---\nrequired_variables: [a]\n---\n{{ a }} [[ b ]]\n"}});
    ValidationState state = collect_validation_state(file_request(), expanded);
    apply_custom_delimiters(state, expanded, ExpressionDelimiters::with_delimiters("[[", "]]"));
    EXPECT_EQ(state.referenced, names({"b"}));
    EXPECT_FALSE(state.is_multi_pass());
    EXPECT_TRUE(state.declared_by_pass.empty());
}

// Sets or clears environment variables for one test and restores them afterwards.
class EnvironmentTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& [variable, value] : saved_) {
            if (value) {
                ::setenv(variable.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(variable.c_str());
            }
        }
    }
    void set(const std::string& variable, std::optional<std::string> value) {
        if (!saved_.contains(variable)) {
            saved_[variable] = environment_value(variable);
        }
        if (value) {
            ::setenv(variable.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(variable.c_str());
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

ClockReading at(std::chrono::sys_seconds seconds, std::uint32_t nanoseconds = 0) {
    return ClockReading{seconds, nanoseconds};
}

constexpr auto kJan2 = std::chrono::sys_days{std::chrono::year{2026} / 1 / 2} + std::chrono::hours{3} +
                       std::chrono::minutes{4} + std::chrono::seconds{5};

TEST_F(EnvironmentTest, InjectionFillsAllFiveFromOneReading) {
    set("HOSTNAME", "build-host");
    set("USER", "ada");
    ComposeRequest request = file_request();
    ValidationState state = collect_validation_state(request, expanded_from({{kRoot, "x"}}));
    inject_builtin_vars(state, "/ws/agents/review.md.j2", at(kJan2, 500'000'000));
    EXPECT_EQ(state.values.at(name("TEMPLATE_NAME")), InputValue("review.md.j2"));
    EXPECT_EQ(state.values.at(name("HOSTNAME")), InputValue("build-host"));
    EXPECT_EQ(state.values.at(name("USERNAME")), InputValue("ada"));
    EXPECT_EQ(state.values.at(name("RENDER_DATE")), InputValue("2026-01-02"));
    EXPECT_EQ(state.values.at(name("RENDER_TIMESTAMP")), InputValue("2026-01-02T03:04:05.5Z"));
    for (const auto builtin : kBuiltinVariableNames) {
        EXPECT_EQ(state.sources.at(name(builtin)), VariableSource::Builtin) << builtin;
    }
}

TEST_F(EnvironmentTest, CallerValuesSurviveInjectionAndDefaultsDoNot) {
    set("HOSTNAME", "build-host");
    ComposeRequest request = file_request();
    request.vars_input[name("HOSTNAME")] = "x";
    request.vars_env[name("USERNAME")] = "from-env";
    request.vars_defaults[name("RENDER_DATE")] = "someday";
    ValidationState state = collect_validation_state(
        request, expanded_from({{kRoot, "---\ndefaults:\n  TEMPLATE_NAME: mine\n---\nx\n"}}));
    inject_builtin_vars(state, kRoot, at(kJan2));
    EXPECT_EQ(state.values.at(name("HOSTNAME")), InputValue("x"));
    EXPECT_EQ(state.sources.at(name("HOSTNAME")), VariableSource::ExplicitInput);
    EXPECT_EQ(state.values.at(name("USERNAME")), InputValue("from-env"));
    EXPECT_EQ(state.sources.at(name("USERNAME")), VariableSource::Environment);
    EXPECT_EQ(state.values.at(name("RENDER_DATE")), InputValue("2026-01-02"));
    EXPECT_EQ(state.sources.at(name("RENDER_DATE")), VariableSource::Builtin);
    EXPECT_EQ(state.values.at(name("TEMPLATE_NAME")), InputValue("root.md"));
}

TEST_F(EnvironmentTest, HostAndUserFallbacks) {
    struct Case {
        std::optional<std::string> hostname, computername, user, username;
        std::string host, name;
    };
    const std::string invalid = "\xff\xfe";
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt, "unknown", "unknown"},
        {std::nullopt, "win-box", std::nullopt, "winuser", "win-box", "winuser"},
        {invalid, "win-box", "ada", "other", "win-box", "ada"},
        // An invalid USER decides: USERNAME is not consulted then.
        {"h", std::nullopt, invalid, "other", "h", "unknown"},
        {invalid, invalid, "", "other", "unknown", ""},
    };
    for (const Case& c : cases) {
        set("HOSTNAME", c.hostname);
        set("COMPUTERNAME", c.computername);
        set("USER", c.user);
        set("USERNAME", c.username);
        ValidationState state;
        inject_builtin_vars(state, kRoot, at(kJan2));
        EXPECT_EQ(state.values.at(name("HOSTNAME")), InputValue(c.host));
        EXPECT_EQ(state.values.at(name("USERNAME")), InputValue(c.name));
    }
}

TEST(Builtins, TemplateNameOfPathsWithoutFileName) {
    for (const char* path : {"", "/", "/ws/..", "."}) {
        ValidationState state;
        inject_builtin_vars(state, path, at(kJan2));
        EXPECT_EQ(state.values.at(name("TEMPLATE_NAME")), InputValue("unknown")) << path;
    }
    ValidationState state;
    inject_builtin_vars(state, std::string("/ws/bad\xff.md"), at(kJan2));
    EXPECT_EQ(state.values.at(name("TEMPLATE_NAME")), InputValue("bad\xef\xbf\xbd.md"));
}

TEST(Builtins, DateAndTimestampTexts) {
    using namespace std::chrono;
    struct Case {
        ClockReading reading;
        const char* date;
        const char* timestamp;
    };
    const Case cases[] = {
        {at(kJan2), "2026-01-02", "2026-01-02T03:04:05Z"},
        {at(kJan2, 500'000'000), "2026-01-02", "2026-01-02T03:04:05.5Z"},
        {at(kJan2, 1), "2026-01-02", "2026-01-02T03:04:05.000000001Z"},
        {at(kJan2, 120'000), "2026-01-02", "2026-01-02T03:04:05.00012Z"},
        {at(sys_seconds{}), "1970-01-01", "1970-01-01T00:00:00Z"},
        {at(sys_days{year{1969} / 12 / 31} + seconds{86399}), "1969-12-31", "1969-12-31T23:59:59Z"},
        {at(sys_days{year{2024} / 2 / 29}), "2024-02-29", "2024-02-29T00:00:00Z"},
        {at(sys_days{year{12} / 3 / 4}), "0012-03-04", "0012-03-04T00:00:00Z"},
        // Years RFC 3339 cannot write lose the fraction.
        {at(sys_days{year{10000} / 1 / 1} + seconds{1}, 250'000'000), "10000-01-01", "10000-01-01T00:00:01Z"},
        {at(sys_days{year{-1} / 12 / 31} + hours{23}, 5), "-0001-12-31", "-0001-12-31T23:00:00Z"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(render_date_text(c.reading), c.date);
        EXPECT_EQ(render_timestamp_text(c.reading), c.timestamp);
    }
}

TEST(Builtins, ClockReadingFromTimePointFloorsToSeconds) {
    using namespace std::chrono;
    const auto reading = ClockReading::from(system_clock::time_point(kJan2) - nanoseconds{1});
    EXPECT_EQ(render_timestamp_text(reading), "2026-01-02T03:04:04.999999999Z");
}

TEST(Builtins, InsertIgnoresInvalidNames) {
    ValidationState state;
    insert_builtin_var(state, "not a name", "v");
    EXPECT_TRUE(state.values.empty());
    EXPECT_TRUE(state.declared.empty());
}

}  // namespace
}  // namespace zelk::composer
