// The configured renderer: whitespace rules, escaping by template name and mode, the six
// filters, map `get`, delimiters, and rendering with supporting templates.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "composer/renderer.hpp"

namespace zelk::composer {
namespace {

using Object = InputValue::Object;
using Array = InputValue::Array;

std::string render_ok(const Renderer& renderer, const std::string& name, const std::string& source,
                      const InputValue& context = Object{}) {
    auto rendered = renderer.render_named(name, source, context);
    EXPECT_TRUE(rendered.has_value())
        << name << ": " << source << " -> " << (rendered ? "" : rendered.error().message);
    return rendered.value_or("<error>");
}

RenderError render_err(const Renderer& renderer, const std::string& name, const std::string& source,
                       const InputValue& context = Object{}) {
    auto rendered = renderer.render_named(name, source, context);
    EXPECT_FALSE(rendered.has_value()) << name << ": " << source << " rendered " << rendered.value_or("");
    return rendered ? RenderError::create(DiagnosticCode::ErrRenderWrite, "unexpected success")
                    : rendered.error();
}

TEST(RendererWhitespace, TrailingLineBreakAndBlockTagsFollowTheFixedOptions) {
    const Renderer renderer;
    struct Case {
        std::string source;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"hello\n", "hello"},
        {"hello\n\n", "hello\n"},
        {"hello\r\n", "hello"},
        {"hello\r", "hello"},
        {"a\n    {% if true %}\n  b\n    {% endif %}\nc", "a\n  b\nc"},
        {"{% for i in [1, 2] %}\n{{ i }}\n{% endfor %}\n", "1\n2\n"},
        {"\t{% set x = 1 %}\nx={{ x }}", "x=1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(render_ok(renderer, "inline", c.source), c.expected) << c.source;
    }
}

TEST(RendererEscaping, CallbackSelectsByExtensionAfterTemplateSuffixes) {
    const auto html = jinja::AutoEscape::custom(std::string(kHtmlEscapeName));
    const auto legacy = jinja::AutoEscape::custom(std::string(kJsonLegacyEscapeName));
    struct Case {
        std::string name;
        jinja::AutoEscape auto_mode;
        jinja::AutoEscape legacy_mode;
    };
    const std::vector<Case> cases = {
        {"agent.md.j2", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
        {"notes.toml.j2", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
        {"conf.yaml", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
        {"inline", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
        {"config.json.j2", jinja::AutoEscape::json(), legacy},
        {"data.json.j2.j2", jinja::AutoEscape::json(), legacy},
        {"x.JSON.Jinja", jinja::AutoEscape::json(), legacy},
        {"dir/a.json", jinja::AutoEscape::json(), legacy},
        {"page.HTML.jinja2", html, html},
        {"a.htm", html, html},
        {"a.xhtml.j2", html, html},
        {"feed.xml", html, html},
        {".json", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
        {"dir/.html.j2", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
        {"a.json.d/notes.j2", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
        {"a.jsonx", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
        {"", jinja::AutoEscape::none(), jinja::AutoEscape::none()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(auto_escape_callback(c.name, JsonEscapeMode::Auto), c.auto_mode) << c.name;
        EXPECT_EQ(auto_escape_callback(c.name, JsonEscapeMode::Legacy), c.legacy_mode) << c.name;
    }
}

TEST(RendererEscaping, FormatterWritesEachSelectionInItsFormat) {
    const Renderer automatic;
    const Renderer legacy = Renderer::with_json_escape_mode(JsonEscapeMode::Legacy);
    const InputValue context = Object{
        {"s", "say \"hi\" <&> 'x'"},
        {"ctl",
         "a\x01"
         "b\tc\nd"},
        {"n", nullptr},
        {"list", Array{"a"}},
        {"obj", Object{{"b", 1}, {"a", Array{true, 1.5}}}},
        {"num", 2.5},
        {"text", "a\\b\x1f"},
    };
    struct Case {
        const Renderer* renderer;
        std::string name;
        std::string source;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // Engine JSON: quoted, escaped JSON text; none as null.
        {&automatic, "x.json.j2", "{{ s }}", R"("say \"hi\" <&> 'x'")"},
        {&automatic, "x.json.j2", "{{ n }}|{{ list }}", R"(null|["a"])"},
        // Legacy JSON: string contents without quotes; other values as escaped compact JSON.
        {&legacy, "x.json.j2", "{{ s }}", R"(say \"hi\" <&> 'x')"},
        {&legacy, "x.json.j2", "{{ n }}|{{ list }}|{{ num }}", R"(null|[\"a\"]|2.5)"},
        {&legacy, "x.json.j2", "{{ obj }}", R"({\"a\":[true,1.5],\"b\":1})"},
        {&legacy, "x.json.j2", "{{ text }}|{{ ctl }}", R"(a\\b\u001f|a\u0001b\tc\nd)"},
        // Safe strings are escaped too under legacy JSON.
        {&legacy, "x.json.j2", "{{ '\"]]>' | cdata_escape }}", R"(\"]]]]><![CDATA[>)"},
        // The mode matters only for JSON templates.
        {&legacy, "notes.md.j2", "{{ s }}", "say \"hi\" <&> 'x'"},
        // Markup: entities, forbidden controls replaced, none empty, safe text unchanged.
        {&automatic, "page.html.j2", "{{ s }}", "say &quot;hi&quot; &lt;&amp;&gt; &#x27;x&#x27;"},
        {&automatic, "page.html.j2", "{{ ctl }}", "a&#xfffd;b\tc\nd"},
        {&automatic, "page.html.j2", "[{{ n }}]{{ num }}", "[]2.5"},
        {&automatic, "page.html.j2", "{{ s | xml_char_safe }}",
         "say &quot;hi&quot; &lt;&amp;&gt; &#x27;x&#x27;"},
        {&automatic, "page.html.j2", "{{ '<b>' | safe }}{{ '<i>' | md_table_safe }}", "<b>&lt;i&gt;"},
        {&automatic, "page.xml", "{{ list }}", "[&#x27;a&#x27;]"},
        // No escaping at all.
        {&automatic, "notes.toml.j2", "{{ s }}", "say \"hi\" <&> 'x'"},
        {&automatic, "agent.md.j2", "[{{ n }}]{{ ctl }}",
         "[]a\x01"
         "b\tc\nd"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(render_ok(*c.renderer, c.name, c.source, context), c.expected)
            << c.name << ": " << c.source;
    }
}

TEST(RendererEscaping, XmlCharSafeStringReplacesMarkupAndForbiddenControls) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"plain ü text", "plain ü text"},
        {"\"&'<>", "&quot;&amp;&#x27;&lt;&gt;"},
        {std::string("\0\x08\x0b\x0c\x0e\x1f", 6), "&#xfffd;&#xfffd;&#xfffd;&#xfffd;&#xfffd;&#xfffd;"},
        {"\t\n\r \x7f", "\t\n\r \x7f"},
        {"&amp;", "&amp;amp;"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(xml_char_safe_string(c.text), c.expected);
    }
}

TEST(RendererFilters, TransformationsAndSafeMarks) {
    const Renderer renderer;
    struct Case {
        std::string name;
        std::string source;  // applied to the variable v
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"inline", "{{ v | cdata_escape }}", "a]]>b]]>", "a]]]]><![CDATA[>b]]]]><![CDATA[>"},
        {"inline", "{{ v | cdata_escape }}", "]]]>>", "]]]]]><![CDATA[>>"},
        {"inline", "{{ v | turtle_escape }}", "a\\b\"c\nd\re\tf", "a\\\\b\\\"c\\nd\\re\\tf"},
        {"inline", "{{ v | md_table_safe }}", "a|b\nc\r\nd", "a\\|b c  d"},
        {"inline", "{{ v | xml_char_safe }}", "<\x01>", "&lt;&#xfffd;&gt;"},
        {"inline", "{{ v | frontmatter_safe }}", "---\n  ---\n----\n...\n a ...\n--- \n",
         "\\-\\-\\-\n  \\-\\-\\-\n----\n\\.\\.\\.\n a ...\n\\-\\-\\- \n"},
        {"inline", "{{ v | frontmatter_safe }}", "\xC2\xA0---\xE3\x80\x80\r",
         "\xC2\xA0\\-\\-\\-\xE3\x80\x80\r"},
        {"inline", "{{ v | frontmatter_safe }}", "", ""},
        {"inline", "{{ v | yaml_safe }}", "x\\\"\n\t\r", "\"x\\\\\\\"\\n\\t\\r\""},
        {"inline", "{{ v | yaml_safe }}", "", "\"\""},
        // Characters a YAML document cannot hold, and NEL, which readers fold, become escapes.
        {"inline", "{{ v | yaml_safe }}", "a\x01\x7f\xC2\x85\xC2\x9f\xC2\xA0\xEF\xBF\xBE\xEF\xBF\xBD",
         "\"a\\x01\\x7F\\x85\\x9F\xC2\xA0\\uFFFE\xEF\xBF\xBD\""},
        {"inline", "{% filter cdata_escape %}{{ v }}{% endfilter %}", "]]>", "]]]]><![CDATA[>"},
        // Safe results are written unchanged in markup; the others are escaped again.
        {"a.html", "{{ v | cdata_escape }}", "<x>]]>", "<x>]]]]><![CDATA[>"},
        {"a.html", "{{ v | frontmatter_safe }}|{{ v | xml_char_safe }}", "<x>", "<x>|&lt;x&gt;"},
        {"a.html", "{{ v | turtle_escape }}|{{ v | md_table_safe }}", "<|>", "&lt;|&gt;|&lt;\\|&gt;"},
        {"a.json", "{{ v | yaml_safe }}", "a\"b", R"("\"a\\\"b\"")"},
        {"a.json", "{{ v | cdata_escape }}", "a\"b", "a\"b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(render_ok(renderer, c.name, c.source, Object{{"v", c.input}}), c.expected) << c.source;
    }
}

TEST(RendererFilters, ArgumentErrorsAreEngineErrors) {
    const Renderer renderer;
    const InputValue context = Object{{"n", nullptr}, {"i", 3}};
    struct Case {
        std::string source;
        std::string expected_prefix;
    };
    const std::vector<Case> cases = {
        {"{{ 1 | yaml_safe }}", "invalid operation"},
        {"{{ i | cdata_escape }}", "invalid operation"},
        {"{{ n | turtle_escape }}", "invalid operation"},
        {"{{ missing | md_table_safe }}", "invalid operation"},
        {"{{ 'a' | xml_char_safe('b') }}", "too many arguments"},
        {"{{ 'a' | frontmatter_safe(x=1) }}", "too many arguments"},
    };
    for (const Case& c : cases) {
        const RenderError error = render_err(renderer, "inline", c.source, context);
        EXPECT_EQ(error.code, std::nullopt);
        EXPECT_TRUE(error.message.starts_with(c.expected_prefix)) << c.source << " -> " << error.message;
        EXPECT_NE(error.message.find("(in inline:1)"), std::string::npos) << error.message;
    }
}

TEST(RendererGet, MapGetFollowsItsRules) {
    const Renderer renderer;
    const InputValue context = Object{{"m", Object{{"a", "A"}, {"n", nullptr}}}, {"s", "text"}};
    struct Case {
        std::string source;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"[{{ m.get('k') }}]", "[]"},
        {"{{ m.get('k', 'd') }}", "d"},
        {"{{ m.get('a') }}{{ m.get('a', 'd') }}", "AA"},
        {"{{ m.get('k') is undefined }}", "True"},
        {"{{ m.get('n') is none }}|{{ m.get('n', 'd') is none }}", "True|True"},
        {"{{ m.get('k', none) is none }}", "True"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(render_ok(renderer, "inline", c.source, context), c.expected) << c.source;
    }
    for (const std::string source : {"{{ m.get() }}", "{{ m.get('a', 'b', 'c') }}", "{{ s.get('a') }}",
                                     "{{ m.fetch('a') }}", "{{ m.get(key='a') }}"}) {
        const RenderError error = render_err(renderer, "inline", source, context);
        EXPECT_EQ(error.code, std::nullopt) << source;
    }
    EXPECT_EQ(render_err(renderer, "inline", "{{ s.get('a') }}", context).message,
              "unknown method: str has no method named get (in inline:1)");
}

TEST(RendererDelimiters, CustomVariableDelimitersAndRefusedPairs) {
    auto brackets = Renderer::with_delimiters("[[", "]]");
    ASSERT_TRUE(brackets.has_value());
    EXPECT_EQ(render_ok(*brackets, "inline", "[[ x ]] {{ x }}{% if true %}!{% endif %}", Object{{"x", 1}}),
              "1 {{ x }}!");

    auto triple = Renderer::with_delimiters_and_json_escape_mode("{{{", "}}}", JsonEscapeMode::Legacy);
    ASSERT_TRUE(triple.has_value());
    EXPECT_EQ(triple->json_escape_mode(), JsonEscapeMode::Legacy);
    EXPECT_EQ(render_ok(*triple, "a.json", "{{{ s }}} {{ s }}", Object{{"s", "\""}}), "\\\" {{ s }}");

    for (const auto& [start, end] :
         std::vector<std::pair<std::string, std::string>>{{"", "]]"}, {"{%", "%}"}}) {
        auto refused = Renderer::with_delimiters(start, end);
        ASSERT_FALSE(refused.has_value()) << start << end;
        EXPECT_EQ(refused.error().code, std::nullopt);
        EXPECT_FALSE(refused.error().message.empty());
        EXPECT_EQ(refused.error().display(), "template rendering failed");
    }
}

TEST(RendererNamed, CompilesWithoutStoringAndReportsTheName) {
    const Renderer renderer;
    EXPECT_EQ(render_ok(renderer, "a.md", "A"), "A");
    // The first render left nothing behind that a later template could include.
    const RenderError missing = render_err(renderer, "b.md", "{% include 'a.md' %}");
    EXPECT_TRUE(missing.message.starts_with("template not found")) << missing.message;

    const RenderError syntax = render_err(renderer, "my.md", "line\n{% if %}");
    EXPECT_EQ(syntax.code, std::nullopt);
    EXPECT_TRUE(syntax.message.starts_with("syntax error")) << syntax.message;
    EXPECT_NE(syntax.message.find("my.md:2"), std::string::npos) << syntax.message;
    ASSERT_NE(syntax.source, nullptr);
    EXPECT_EQ(syntax.source->display(), syntax.message);

    const RenderError undefined = render_err(renderer, "inline", "{{ missing.attr }}");
    EXPECT_EQ(undefined.message, "undefined value (in inline:1)");
}

TEST(RendererContext, ContextShapesAndValueConversion) {
    const Renderer renderer;
    EXPECT_EQ(render_ok(renderer, "inline", "[{{ x }}]", InputValue()), "[]");

    VariableMap variables;
    variables.emplace(*VariableName::create("b.c"), InputValue(Array{1, "two", 3.0, false, nullptr}));
    variables.emplace(*VariableName::create("a"), InputValue(Object{{"z", 1}, {"y", 2}}));
    // Objects keep key order; a variable map gives one variable per name.
    auto listed = renderer.render_named("inline", "{{ a }}|{{ a | list }}", variables);
    ASSERT_TRUE(listed.has_value()) << listed.error().message;
    EXPECT_EQ(*listed, "{'y': 2, 'z': 1}|['y', 'z']");

    for (const InputValue& bad : {InputValue(Array{1}), InputValue("text"), InputValue(3)}) {
        const RenderError error = render_err(renderer, "inline", "x", bad);
        EXPECT_TRUE(error.message.starts_with("invalid operation: template context must be an object"))
            << error.message;
    }
    const RenderError big =
        render_err(renderer, "inline", "{{ n }}", Object{{"n", std::uint64_t{18446744073709551615u}}});
    EXPECT_NE(big.message.find("18446744073709551615"), std::string::npos) << big.message;
    EXPECT_EQ(render_ok(renderer, "inline", "{{ n }}", Object{{"n", std::uint64_t{42}}}), "42");
}

TEST(RendererLoaded, SupportingTemplatesByNameWithTheirOwnEscaping) {
    LoadedTemplateRequest request{
        "main.md.j2",
        "{% include 'part.html' %}|{% from 'macros.j2' import hi %}{{ hi(who) }}|{{ who }}",
        {{"who", "<Ann>"}, {"key with space", 1}},
        {
            {"part.html", "{{ who }}"},
            {"macros.j2", "{% macro hi(n) %}old{% endmacro %}"},
            {"macros.j2", "{% macro hi(n) %}hi {{ n }}{% endmacro %}"},
        },
    };
    auto rendered = render_loaded_template(request);
    ASSERT_TRUE(rendered.has_value()) << rendered.error().message;
    EXPECT_EQ(*rendered, "&lt;Ann&gt;|hi <Ann>|<Ann>");

    // The main template replaces a supporting template of the same name.
    request.supporting_templates.push_back({"main.md.j2", "supporting"});
    EXPECT_EQ(render_loaded_template(request).value_or("<error>"), "&lt;Ann&gt;|hi <Ann>|<Ann>");

    // Templates extend one another; the mode reaches JSON supporting templates.
    const LoadedTemplateRequest extending{
        "child.j2",
        "{% extends 'base.j2' %}{% block b %}[{{ super() }}]{% include 'v.json' %}{% endblock %}",
        {{"v", "\""}},
        {{"base.j2", "<{% block b %}base{% endblock %}>"}, {"v.json", "{{ v }}"}},
    };
    EXPECT_EQ(render_loaded_template(extending).value_or("<error>"), R"(<[base]"\"">)");
    EXPECT_EQ(
        render_loaded_template_with_json_escape_mode(extending, JsonEscapeMode::Legacy).value_or("<error>"),
        R"(<[base]\">)");
}

TEST(RendererLoaded, AnyBrokenTemplateFailsTheCall) {
    const LoadedTemplateRequest unused_broken{"main.j2", "fine", {}, {{"broken.j2", "{% if %}"}}};
    auto rendered = render_loaded_template(unused_broken);
    ASSERT_FALSE(rendered.has_value());
    EXPECT_EQ(rendered.error().code, std::nullopt);
    EXPECT_NE(rendered.error().message.find("broken.j2"), std::string::npos) << rendered.error().message;

    const LoadedTemplateRequest missing{"main.j2", "{% include 'nope.j2' %}", {}, {}};
    rendered = render_loaded_template(missing);
    ASSERT_FALSE(rendered.has_value());
    EXPECT_TRUE(rendered.error().message.starts_with("template not found")) << rendered.error().message;

    const LoadedTemplateRequest big_context{"main.j2", "x", {{"n", std::uint64_t{1} << 63}}, {}};
    EXPECT_FALSE(render_loaded_template(big_context).has_value());
}

}  // namespace
}  // namespace zelk::composer
