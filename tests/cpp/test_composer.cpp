// The composition pipeline: output assembly, protection of later passes, the JSON check of pass
// output, multi-pass rendering with its errors, and the observer calls of a composition.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "composer/composer.hpp"
#include "composer/render_check.hpp"
#include "recording_observer.hpp"
#include "scratch_tree.hpp"

namespace fs = std::filesystem;
using namespace zelk::composer;

namespace {

TEST(AssembleOutput, JoinsNonEmptyPartsWithBlankLines) {
    const struct {
        std::string_view body;
        std::optional<std::string> guidance;
        std::optional<std::string> prompt;
        std::string_view out;
    } cases[] = {
        {"Body\n\n", "G", "U", "Body\n\nG\n\nU"},
        {"Body \t\n", "", "U", "Body\n\nU"},
        {"Body", std::nullopt, "U\n", "Body\n\nU\n"},
        {"  Body", std::nullopt, std::nullopt, "  Body"},
        // U+00A0, U+2003 and U+3000 are white space too; U+200B (zero width space) is not.
        {"Body\xC2\xA0\xE2\x80\x83\xE3\x80\x80", std::nullopt, std::nullopt, "Body"},
        {"Body\xE2\x80\x8B", std::nullopt, std::nullopt, "Body\xE2\x80\x8B"},
        {"", "G", std::nullopt, "\n\nG"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(assemble_output(c.body, c.guidance, c.prompt), c.out) << c.body;
    }
}

TEST(ProtectHigherBraces, WrapsNextPassExpressionsInRawBlocks) {
    const struct {
        std::string_view in;
        std::size_t braces;
        std::string_view out;
    } cases[] = {
        {"{{ a }} {% if x %}y{% endif %}", 2, "{{ a }} {% if x %}y{% endif %}"},
        {"{{ a }} {{{ b }}} {{{ c }}}", 2,
         "{{ a }} {% raw %}{{{ b }}}{% endraw %} {% raw %}{{{ c }}}{% endraw %}"},
        // Four braces: raw up to the first three closing braces, the fourth stays outside.
        {"{{{{ d }}}}", 2, "{% raw %}{{{{ d }}}{% endraw %}}"},
        // An opening without a closing is left alone, from that opening on.
        {"x {{{ b }}} {{{ open", 2, "x {% raw %}{{{ b }}}{% endraw %} {{{ open"},
        {"{{{ b }}}", 3, "{{{ b }}}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(protect_higher_braces(c.in, c.braces), c.out) << c.in;
    }
}

TEST(JsonCheck, OffsetsFollowTheReaderPosition) {
    const JsonCheckMeta meta{"config.json.j2", false};
    const struct {
        std::string_view text;
        std::uint64_t line;
        std::uint64_t column;
        std::size_t offset;
    } cases[] = {
        {"{\"a\": }", 1, 7, 6},
        // Input that ends too early: line start + column, at most the text length.
        {"[1,", 1, 4, 3},
        {"{\n  \"a\": 1,\n  \"b\" 2\n}", 3, 7, 18},
        {"[1]\n\n]", 3, 1, 5},
        {"", 1, 1, 0},
        {"[\"\xC3\xA9\", \xC3\xA9]", 1, 8, 7},
        // An offset on a continuation byte moves on to the next character boundary.
        {"\"\xE0\x80\x80\"", 1, 3, 4},
    };
    for (const auto& c : cases) {
        const auto outcome = check_rendered_output_with_meta(meta, c.text);
        const auto* invalid = std::get_if<JsonCheckInvalid>(&outcome);
        ASSERT_NE(invalid, nullptr) << c.text;
        EXPECT_EQ(invalid->line, c.line) << c.text;
        EXPECT_EQ(invalid->column, c.column) << c.text;
        EXPECT_EQ(invalid->byte_offset, c.offset) << c.text;
        ASSERT_EQ(invalid->diagnostics.size(), 1U);
        const Diagnostic& diagnostic = invalid->diagnostics[0];
        EXPECT_EQ(diagnostic.code, DiagnosticCode::ErrRenderJsonMalformed);
        EXPECT_EQ(diagnostic.severity, DiagnosticSeverity::Error);
        EXPECT_EQ(diagnostic.message, "rendered JSON is invalid at line " + std::to_string(c.line) +
                                          ", column " + std::to_string(c.column) + ", byte offset " +
                                          std::to_string(c.offset));
        EXPECT_EQ(diagnostic.path, fs::path("config.json.j2"));
        EXPECT_EQ(diagnostic.line, c.line);
        EXPECT_EQ(diagnostic.column, c.column);
    }
}

TEST(JsonCheck, ValidAndSkipped) {
    const JsonCheckMeta meta{"x.json", false};
    for (std::string_view text : {"{}", "  [1, {\"a\": null}]\n", "\"s\"", "3"}) {
        const auto outcome = check_rendered_output_with_meta(meta, text);
        ASSERT_TRUE(std::holds_alternative<JsonCheckValid>(outcome)) << text;
        EXPECT_EQ(std::get<JsonCheckValid>(outcome).text, text);
    }
    EXPECT_TRUE(
        std::holds_alternative<JsonCheckValid>(check_rendered_output_with_meta({"x", true}, "not json")));
    // Nesting far deeper than any recursion limit is still just a verdict.
    EXPECT_TRUE(std::holds_alternative<JsonCheckInvalid>(
        check_rendered_output_with_meta(meta, std::string(200000, '['))));
}

VariableName name(const char* text) {
    return *VariableName::create(text);
}

Frontmatter block(std::uint8_t pass, VariableMap defaults = {}) {
    Frontmatter frontmatter;
    frontmatter.pass_number = pass;
    frontmatter.explicit_pass = true;
    frontmatter.defaults = std::move(defaults);
    return frontmatter;
}

TEST(RenderAll, PassesRenderWithGrowingBraces) {
    const ParsedTemplate parsed{{block(1, {{name("b"), InputValue("B")}}), block(2)},
                                "{{ a }} {{{ b }}} {% if true %}x{% endif %}"};
    const auto text = render_all(parsed, {{1, {{name("a"), InputValue("A")}}}, {2, {}}});
    ASSERT_TRUE(text.has_value()) << text.error().message();
    // Pass 2 sees the defaults of its own block only: `b` is not among them.
    EXPECT_EQ(*text, "A  x");

    const auto with_b = render_all(parsed, {{1, {}}, {2, {{name("b"), InputValue("B")}}}});
    ASSERT_TRUE(with_b.has_value()) << with_b.error().message();
    EXPECT_EQ(*with_b, " B x");
}

TEST(RenderAll, ContextsMustMatchThePasses) {
    const ParsedTemplate parsed{{block(1), block(2)}, "x"};
    const struct {
        std::vector<RenderContext> contexts;
        std::string message;
    } cases[] = {
        {{{1, {}}}, "expected 2 render contexts for 2 passes, got 1"},
        {{{2, {}}, {1, {}}}, "render context pass 2 does not match header pass 1"},
    };
    for (const auto& c : cases) {
        const auto text = render_all(parsed, c.contexts);
        ASSERT_FALSE(text.has_value());
        ASSERT_NE(text.error().get_if<ConfigError>(), nullptr);
        EXPECT_EQ(text.error().code(), DiagnosticCode::ErrConfigParse);
        EXPECT_EQ(text.error().message(), c.message);
    }
}

TEST(RenderAllWithObserver, ReportsPassesAndTheFirstInvalidJsonPass) {
    const ParsedTemplate parsed{{block(1), block(2)}, "{\"a\": {{ a }}, \"b\": {{{ b }}}}"};
    zelk::testing::RecordingObserver observer;
    const auto output = render_all_with_observer(parsed, {{1, {{name("a"), InputValue(1)}}}, {2, {}}},
                                                 "x.json.j2", observer, JsonEscapeMode::Auto, false);
    ASSERT_TRUE(output.has_value()) << output.error().message();
    // After pass 1 the text still holds `{{{ b }}}`; after pass 2 `b` printed as null.
    EXPECT_EQ(output->text, "{\"a\": 1, \"b\": null}");
    EXPECT_TRUE(output->rendered_json_invalid);
    EXPECT_EQ(output->invalid_json_pass, 1);
    EXPECT_EQ(observer.calls,
              (std::vector<std::string>{"pass_start 1", "pass_end 1", "pass_start 2", "pass_end 2"}));
}

TEST(RenderAllWithObserver, EngineFailureIsReportedAndEndsThePasses) {
    const ParsedTemplate parsed{{block(1), block(2)}, "{{ a.b.c }}"};
    zelk::testing::RecordingObserver observer;
    const auto output =
        render_all_with_observer(parsed, {{1, {}}, {2, {}}}, "inline", observer, JsonEscapeMode::Auto, true);
    ASSERT_FALSE(output.has_value());
    EXPECT_NE(output.error().get_if<RenderError>(), nullptr);
    EXPECT_EQ(output.error().code(), std::nullopt);
    EXPECT_EQ(observer.calls, (std::vector<std::string>{"pass_start 1", "render_outcome engine-error"}));
}

class Compose : public zelk::testing::ScratchTree {
  protected:
    fs::path root() const { return base_ / "w"; }

    ComposeRequest file_request(fs::path template_path) const {
        ComposeRequest request;
        request.root = root();
        request.mode = ComposeMode::file(std::move(template_path));
        return request;
    }
};

TEST_F(Compose, SinglePassObserverSequenceAndResult) {
    write(root() / "shared/part.md", "---\nrequired_variables: [name]\n---\nfrom {{ name }}\n");
    write(root() / "agents/a.md.j2", "---\nrequired_variables: [name]\n---\nHello\n@<shared/part.md>\n\n\n");
    ComposeRequest request = file_request("agents/a.md.j2");
    request.vars_input.emplace(name("name"), InputValue("Ada"));
    request.guidance_block = "G";
    request.user_prompt = "U";
    zelk::testing::RecordingObserver observer;
    const auto result = compose_with_observer(request, observer);
    ASSERT_TRUE(result.has_value()) << result.error().display();
    EXPECT_EQ(result->rendered_text, "Hello\nfrom Ada\n\nG\n\nU");
    EXPECT_EQ(result->resolved_files,
              (std::vector<fs::path>{root() / "agents/a.md.j2", root() / "shared/part.md"}));
    EXPECT_EQ(result->variable_sources.at(name("name")), VariableSource::ExplicitInput);
    EXPECT_TRUE(result->composition_sha256.has_value());
    EXPECT_FALSE(result->rendered_json_invalid);
    EXPECT_EQ(observer.calls, (std::vector<std::string>{
                                  "resolve_start agents/a.md.j2", "resolve_outcome ok", "include_outcome 2",
                                  "validation_end " + std::to_string(result->warnings.size()) + "/0",
                                  "render_outcome 16",  // "Hello\nfrom Ada\n\n" before assembly
                              }));
}

TEST_F(Compose, MultiPassRendersFrontmatterPassesInOrder) {
    write(root() / "t.md.j2",
          "---\nrequired_variables: [a]\n---\n---\npass: 2\ndefaults:\n  b: late\n---\n"
          "{{ a }} then {{{ b }}} {{{ a }}}\n");
    ComposeRequest request = file_request("t.md.j2");
    request.vars_input.emplace(name("a"), InputValue("A"));
    zelk::testing::RecordingObserver observer;
    const auto result = compose_with_observer(request, observer);
    ASSERT_TRUE(result.has_value()) << result.error().display();
    EXPECT_EQ(result->rendered_text, "A then late A");
    const std::vector<std::string> render_calls(observer.calls.begin() + 4, observer.calls.end());
    EXPECT_EQ(render_calls, (std::vector<std::string>{"pass_start 1", "pass_end 1", "pass_start 2",
                                                      "pass_end 2", "render_outcome 13"}));
}

TEST_F(Compose, PolicyPassesReplaceTheFrontmatterPasses) {
    write(root() / "t.md.j2", "---\npass: 1\n---\n---\npass: 2\n---\n{{ x }}\n");
    ComposeRequest request = file_request("t.md.j2");
    request.policy.passes = {PassConfig{}};
    const auto result = compose(request);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message(), "expected 2 render contexts for 2 passes, got 1");
}

TEST_F(Compose, MultiPassJsonTemplateFlagsInvalidOutputWithoutFailing) {
    write(root() / "c.json.j2", "---\npass: 1\n---\n---\npass: 2\n---\n{\"k\": {{ v }}\n");
    ComposeRequest request = file_request("c.json.j2");
    request.vars_input.emplace(name("v"), InputValue("s"));
    const auto result = compose(request);
    ASSERT_TRUE(result.has_value()) << result.error().display();
    EXPECT_EQ(result->rendered_text, "{\"k\": \"s\"");
    EXPECT_TRUE(result->rendered_json_invalid);
    EXPECT_EQ(result->invalid_json_pass, 1);

    // A single-pass JSON template is never checked.
    write(root() / "single.json.j2", "{\"k\": {{ v }}\n");
    ComposeRequest single = file_request("single.json.j2");
    single.vars_input.emplace(name("v"), InputValue("s"));
    const auto single_result = compose(single);
    ASSERT_TRUE(single_result.has_value()) << single_result.error().display();
    EXPECT_FALSE(single_result->rendered_json_invalid);
}

TEST_F(Compose, JsonEscapeModeComesFromPolicyThenRootFrontmatter) {
    write(root() / "legacy.json.j2", "---\njson_escape_mode: legacy\n---\n{\"k\": \"{{ v }}\"}\n");
    ComposeRequest request = file_request("legacy.json.j2");
    request.vars_input.emplace(name("v"), InputValue("say \"hi\""));
    const auto legacy = compose(request);
    ASSERT_TRUE(legacy.has_value()) << legacy.error().display();
    EXPECT_EQ(legacy->rendered_text, "{\"k\": \"say \\\"hi\\\"\"}");
}

TEST_F(Compose, FailuresReachTheObserverAtTheirStage) {
    write(root() / "bad.md.j2", "{{ x.y.z }}");
    write(root() / "inc.md.j2", "@<missing.md>\n");
    write(root() / "empty.md.j2", "  \n");
    const struct {
        fs::path path;
        std::vector<std::string> calls;
    } cases[] = {
        {"nope.md.j2", {"resolve_start nope.md.j2", "resolve_outcome ERR_RESOLVE_NOT_FOUND"}},
        {"inc.md.j2",
         {"resolve_start inc.md.j2", "resolve_outcome ok", "include_outcome ERR_INCLUDE_NOT_FOUND"}},
        {"empty.md.j2",
         {"resolve_start empty.md.j2", "resolve_outcome ok", "include_outcome 1", "validation_end 0/1"}},
    };
    for (const auto& c : cases) {
        zelk::testing::RecordingObserver observer;
        EXPECT_FALSE(compose_with_observer(file_request(c.path), observer).has_value());
        EXPECT_EQ(observer.calls, c.calls) << c.path;
    }
    zelk::testing::RecordingObserver observer;
    const auto failed = compose_with_observer(file_request("bad.md.j2"), observer);
    ASSERT_FALSE(failed.has_value());
    EXPECT_NE(failed.error().get_if<RenderError>(), nullptr);
    EXPECT_EQ(observer.calls.back(), "render_outcome engine-error");
}

TEST_F(Compose, ProfileModeNamesKindAndProfileBeforeResolution) {
    write(root() / ".claude/agents/reviewer.md.j2", "Review.\n");
    ComposeRequest request;
    request.root = root();
    request.mode = ComposeMode::profile(ProfileKind::Agent, *ProfileName::create("reviewer"));
    zelk::testing::RecordingObserver observer;
    const auto result = compose_with_observer(request, observer);
    ASSERT_TRUE(result.has_value()) << result.error().display();
    EXPECT_EQ(result->rendered_text, "Review.");
    EXPECT_EQ(observer.calls.front(), "resolve_start Agent:reviewer");
}

}  // namespace
