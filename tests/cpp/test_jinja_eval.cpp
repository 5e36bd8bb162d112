// Evaluation: statements, expressions, scoping, the loop object, template composition,
// display rules, errors and limits, and the embedding hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jinja/jinja.hpp"
#include "jinja/json.hpp"

namespace zelk::jinja {
namespace {

Value ctx(std::string_view json) {
    return value_from_json(nlohmann::ordered_json::parse(json));
}

// Rendered text, or "ERR " + the error display.
std::string render(const Environment& env, std::string_view src, std::string_view json = "{}",
                   std::string name = "inline") {
    auto r = env.render_named_str(std::move(name), src, ctx(json));
    return r ? *r : "ERR " + r.error().display();
}

std::string render(std::string_view src, std::string_view json = "{}") {
    return render(Environment(), src, json);
}

struct Case {
    std::string src;
    std::string expected;
};

void check(const std::vector<Case>& cases, std::string_view json = "{}") {
    for (const auto& c : cases) {
        EXPECT_EQ(render(c.src, json), c.expected) << c.src;
    }
}

TEST(JinjaEval, DisplayRulesFollowPython) {
    check(
        {
            {"{{ true }} {{ none }} {{ [1, 'a', none] }} {{ {'a': 1} }}",
             "True None [1, 'a', None] {'a': 1}"},
            {"{{ 1.0 }} {{ 1e20 }} {{ 0.1 + 0.2 }} {{ 1e-5 }} {{ -0.0 }}",
             "1.0 1e+20 0.30000000000000004 1e-05 -0.0"},
            {"{{ (1, 2) }} {{ (1,) }} {{ () }} {{ d.items()|list }}", "(1, 2) (1,) () [('a', 1)]"},
            {R"({{ ["it's", 'q"', 'a\\b', "\x01"] }})", R"(["it's", 'q"', 'a\\b', '\x01'])"},
            {"{{ missing }}|{{ ['x'|safe] }}", "|[Markup('x')]"},
        },
        R"({"d": {"a": 1}})");
}

TEST(JinjaEval, ArithmeticIsPythonsWith64BitIntegers) {
    check({
        {"{{ 7 / 2 }} {{ 7 // -2 }} {{ 7 % -2 }} {{ -7.5 // 2 }} {{ 2 ** -1 }}", "3.5 -4 -1 -4.0 0.5"},
        {"{{ 2 ** 3 ** 2 }} {{ -2 ** 2 }} {{ 'ab' * 2 }} {{ [0] * 2 }} {{ true + 1 }}", "64 4 abab [0, 0] 2"},
        {"{{ 1 / 0 }}", "ERR invalid operation: division by zero (in inline:1)"},
        {"{{ 9223372036854775807 + 1 }}", "ERR invalid operation: integer overflow (in inline:1)"},
        {"{{ 2 ** 64 }}", "ERR invalid operation: integer overflow (in inline:1)"},
        {"{{ -9223372036854775807 - 1 }}", "-9223372036854775808"},
        {"{{ 1 + 'a' }}",
         "ERR invalid operation: unsupported operand type(s) for +: 'int' and 'str' (in inline:1)"},
        {"{{ 1 < 2 < 3 }} {{ 2 in [1, 2] }} {{ 'b' not in 'abc' }} {{ 1 == 1.0 }}", "True True False True"},
    });
}

TEST(JinjaEval, UndefinedIsLenient) {
    check({
        {"[{{ nope }}]{% for x in nope %}x{% endfor %}{{ nope is defined }}", "[]False"},
        {"{{ nope|default('d') }} {{ nope|length }} {{ none.attr }}", "d 0 "},
        {"line1\n{{ nope.attr }}", "ERR undefined value (in inline:2)"},
        {"{{ nope + 1 }}", "ERR undefined value (in inline:1)"},
    });
}

TEST(JinjaEval, ControlStructures) {
    check(
        {
            {"{% if a %}A{% elif b %}B{% else %}C{% endif %}", "B"},
            {"{% for k, v in d.items() %}{{ k }}={{ v }};{% endfor %}", "x=1;y=2;"},
            {"{% for x in [] %}{% else %}empty{% endfor %}", "empty"},
            {"{% for x in [1, 2, 3, 4] if x is even %}{{ x }}{{ loop.length }}{% endfor %}", "2242"},
            {"{% for x in [1, 2, 3] %}{% if x == 2 %}{% continue %}{% endif %}{{ x }}{% endfor %}", "13"},
            {"{% for x in [1, 2, 3] %}{% if x == 2 %}{% break %}{% endif %}{{ x }}{% endfor %}", "1"},
            {"{% set ns = namespace(n=0) %}{% for x in [1, 2] %}{% set ns.n = ns.n + x %}{% endfor %}{{ ns.n "
             "}}",
             "3"},
            {"{% set a, b = 1, 2 %}{% with c = a + b %}{{ c }}{% endwith %}{{ c }}", "3"},
            {"{% set t | upper %}x{{ b }}{% endset %}{{ t }} {% filter title %}a b{% endfilter %}",
             "XTRUE A B"},
            {"{% do ns %}{{ 'a' if b else 'b' }}{{ 'c' if a }}", "a"},
            {"{% autoescape true %}{{ '<' }}{% endautoescape %}{{ '<' }}", "&lt;<"},
        },
        R"({"a": false, "b": true, "d": {"x": 1, "y": 2}})");
}

TEST(JinjaEval, LoopObject) {
    check({
        {"{% for x in 'abc' %}{{ loop.index }}{{ loop.index0 }}{{ loop.revindex }}{{ loop.revindex0 }}"
         "{{ loop.first|int }}{{ loop.last|int }}{{ loop.length }} {% endfor %}",
         "1032103 2121003 3210013 "},
        {"{% for x in [1, 2] %}{{ loop.previtem }}-{{ loop.nextitem }}|{% endfor %}", "-2|1-|"},
        {"{% for x in [1, 1, 2] %}{{ loop.changed(x) }}{{ loop.cycle('a', 'b') }} {% endfor %}",
         "Truea Falseb Truea "},
        {"{% for x in [[1, [2]], 3] recursive %}{% if x is sequence %}({{ loop(x) }}){% else %}"
         "{{ x }}@{{ loop.depth }}{{ loop.depth0 }}{% endif %}{% endfor %}",
         "(1@21(2@32))3@10"},
        {"{% for x in [1] %}{{ loop(x) }}{% endfor %}",
         "ERR invalid operation: cannot call non-recursive loop (in inline:1)"},
    });
}

TEST(JinjaEval, ScopingMatchesJinja2) {
    check({
        // assignments in a loop body do not survive the iteration or the loop
        {"{% set x = 0 %}{% for i in [1, 2] %}{% set x = x + 1 %}{{ x }}{% endfor %}{{ x }}", "110"},
        // top-level assignments made after a macro is defined are visible to it
        {"{% macro f() %}{{ p }}{% endmacro %}{% set p = 3 %}{{ f() }}", "3"},
        {"{% if true %}{% set y = 1 %}{% endif %}{{ y }}", "1"},
        {"{% macro fact(n) %}{{ 1 if n <= 1 else n * fact(n - 1)|int }}{% endmacro %}{{ fact(5) }}", "120"},
    });
}

TEST(JinjaEval, Macros) {
    check({
        {"{% macro m(a, b=a + 1) %}{{ a }}{{ b }}{% endmacro %}{{ m(1) }}{{ m(1, b=5) }}", "1215"},
        {"{% macro m(a) %}[{{ a }}]{% endmacro %}{{ m() }}", "[]"},
        {"{% macro m() %}{{ varargs }}{{ kwargs }}{% endmacro %}{{ m(1, x=2) }}", "(1,){'x': 2}"},
        {"{% macro m(a) %}{% endmacro %}{{ m(1, 2) }}",
         "ERR too many arguments: macro 'm' takes not more than 1 argument(s) (in inline:1)"},
        {"{% macro m(a) %}{% endmacro %}{{ m(z=1) }}",
         "ERR too many arguments: macro 'm' takes no keyword argument 'z' (in inline:1)"},
        {"{% macro w(t) %}<{{ caller(t) }}>{% endmacro %}{% call(v) w('x') %}[{{ v }}]{% endcall %}",
         "<[x]>"},
        {"{% macro m() %}{% endmacro %}{{ m.name }} {{ m }}", "m <Macro 'm'>"},
    });
}

Environment with_templates(std::initializer_list<std::pair<std::string, std::string>> templates) {
    Environment env;
    for (const auto& [name, src] : templates) {
        EXPECT_TRUE(env.add_template(name, src)) << name;
    }
    return env;
}

TEST(JinjaEval, NamedTemplatesIncludeImportAndExtend) {
    const Environment env = with_templates({
        {"base", "<{% block head %}H{% endblock %}|{% block body %}B{% endblock %}>"},
        {"child", "{% extends 'base' %}{% block body %}C{{ super() }}{{ self.head() }}{% endblock %}"},
        {"grand", "{% extends 'child' %}{% block head %}G{% endblock %}"},
        {"macros", "{% macro hi(n) %}hi {{ n }}{% endmacro %}{% set value = 7 %}{% set _hidden = 1 %}"},
        {"part", "[{{ who }}{{ loop.index if loop is defined }}]"},
        {"bad", "{{ nope.x }}"},
    });
    EXPECT_EQ(render(env, "{% extends 'child' %}"), "<H|CBH>");
    EXPECT_EQ(render(env, "{% extends 'grand' %}"), "<G|CBG>");
    EXPECT_EQ(render(env, "{% import 'macros' as m %}{{ m.hi('a') }} {{ m.value }} {{ m._hidden }}"),
              "hi a 7 ");
    EXPECT_EQ(render(env, "{% from 'macros' import hi as h, value %}{{ h(value) }}"), "hi 7");
    EXPECT_EQ(render(env, "{% for who in ['a', 'b'] %}{% include 'part' %}{% endfor %}", "{}"), "[a1][b2]");
    EXPECT_EQ(render(env, "{% include 'part' without context %}", R"({"who": "w"})"), "[]");
    EXPECT_EQ(
        render(env, "{% include ['nope', 'part'] %}{% include 'nope' ignore missing %}", R"({"who": 1})"),
        "[1]");
    EXPECT_EQ(render(env, "{% include 'nope' %}"),
              "ERR template not found: template nope does not exist (in inline:1)");
    // errors are reported where they happen, in the included template
    EXPECT_EQ(render(env, "\n{% include 'bad' %}"), "ERR undefined value (in bad:1)");
    EXPECT_EQ(render(env, "{% extends 'inline' %}"),
              "ERR template not found: template inline does not exist (in inline:1)");
}

TEST(JinjaEval, SelfReferencesEndInErrors) {
    Environment env = with_templates({{"loop", "{% include 'loop' %}"}, {"ext", "{% extends 'ext' %}"}});
    EXPECT_EQ(render(env, "{% include 'loop' %}"),
              "ERR limit exceeded: recursion limit exceeded (in loop:1)");
    EXPECT_EQ(render(env, "{% extends 'ext' %}"),
              "ERR limit exceeded: too many levels of extends (in ext:1)");
    // Whether the call-depth limit or the stack budget stops a self-calling macro first depends on
    // the frame sizes of the build (sanitizer builds have larger frames); either is a clean error.
    const std::string macro = render("{% macro f() %}{{ f() }}{% endmacro %}{{ f() }}");
    EXPECT_TRUE(macro == "ERR limit exceeded: recursion limit exceeded (in inline:1)" ||
                macro == "ERR limit exceeded: expression nesting too deep (in inline:1)")
        << macro;
}

TEST(JinjaEval, HostileTemplatesEndInErrors) {
    const std::string brackets = "{{ " + std::string(100000, '(') + "1" + std::string(100000, ')') + " }}";
    EXPECT_EQ(render(brackets), "ERR limit exceeded: template nesting too deep (in inline:1)");
    std::string chain = "{{ 1";
    for (int i = 0; i < 100000; ++i) {
        chain += "|abs";
    }
    EXPECT_EQ(render(chain + " }}"), "ERR limit exceeded: expression nesting too deep (in inline:1)");
    check({
        {"{{ 'x' * 10**12 }}", "ERR limit exceeded: repetition result too large (in inline:1)"},
        {"{{ range(10**12)|length }}",
         "ERR limit exceeded: range has too many elements (limit 1000000) (in inline:1)"},
        {"{% for i in range(1000000) %}{% for j in range(1000000) %}{% endfor %}{% endfor %}",
         "ERR limit exceeded: template exceeded its evaluation budget (in inline:1)"},
        {"{% set ns = namespace(x=[]) %}{% for i in range(5000) %}{% set ns.x = [ns.x] %}{% endfor %}",
         "ERR limit exceeded: value nested too deeply (in inline:1)"},
    });
}

TEST(JinjaEval, ErrorsCarryKindNameAndLine) {
    Environment env;
    auto r = env.render_named_str("page.txt", "a\nb\n{{ x.y }}", Value());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), ErrorKind::UndefinedError);
    EXPECT_EQ(r.error().template_name(), "page.txt");
    EXPECT_EQ(r.error().line(), 3u);
    EXPECT_EQ(r.error().display(), "undefined value (in page.txt:3)");
    check({
        {"{% if x %}", "ERR syntax error: unexpected end of template, expected 'elif' (in inline:1)"},
        {"\n{{ x|nofilter }}", "ERR unknown filter: filter nofilter is unknown (in inline:2)"},
        {"{{ x is notatest }}", "ERR unknown test: test notatest is unknown (in inline:1)"},
        {"{% break %}", "ERR syntax error: 'break' outside of a loop (in inline:1)"},
        {"{% block a %}{% endblock %}{% block a %}{% endblock %}",
         "ERR syntax error: block 'a' defined twice (in inline:1)"},
        {"{{ 'abc'.nomethod() }}", "ERR unknown method: str has no method named nomethod (in inline:1)"},
    });
}

TEST(JinjaEval, WhitespaceOptionsAndLineBreaks) {
    Environment env;
    env.set_trim_blocks(true);
    env.set_lstrip_blocks(true);
    EXPECT_EQ(render(env, "<\n  {% if true %}\n  x\n  {% endif %}\n>\n"), "<\n  x\n>");
    EXPECT_EQ(render(env, "a\r\n{% if true %}\r\nb\r\n{% endif %}\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(render("a\n\n"), "a\n");
    env.set_keep_trailing_newline(true);
    EXPECT_EQ(render(env, "a\r\n"), "a\r\n");
}

TEST(JinjaEval, CustomVariableDelimiters) {
    Environment env;
    ASSERT_TRUE(env.set_syntax("{{{", "}}}"));
    EXPECT_EQ(render(env, "{{ a }} {{{ a }}} {% raw %}{{{ a }}}{% endraw %}", R"({"a": 1})"),
              "{{ a }} 1 {{{ a }}}");
    for (auto [start, end] : {std::pair{"", "}}"}, {"{{", ""}, {"{%", "}}"}, {"{{", "#}"}, {"{#x", "x#}"}}) {
        auto r = env.set_syntax(start, end);
        ASSERT_FALSE(r) << start << end;
        EXPECT_EQ(r.error().kind(), ErrorKind::InvalidDelimiter);
    }
    EXPECT_EQ(env.variable_start(), "{{{");  // a refused pair leaves the syntax unchanged
}

TEST(JinjaEval, HooksAutoEscapeFormatterFiltersAndMethods) {
    Environment env;
    env.set_auto_escape_callback([](std::string_view name) {
        if (name.ends_with(".html")) {
            return AutoEscape::html();
        }
        if (name.ends_with(".json")) {
            return AutoEscape::json();
        }
        if (name.ends_with(".custom")) {
            return AutoEscape::custom("upper");
        }
        return AutoEscape::none();
    });
    EXPECT_EQ(render(env, "{{ s }}{{ s|safe }}{{ '<'|e }}", R"({"s": "<&>"})", "p.html"),
              "&lt;&amp;&gt;<&>&lt;");
    EXPECT_EQ(render(env, "{{ s }} {{ n }} {{ none }} {{ nope }} {{ {'a': [1]} }}",
                     R"({"s": "q\"", "n": 1.5})", "x.json"),
              R"("q\"" 1.5 null null {"a":[1]})");
    EXPECT_EQ(render(env, "{{ 1 }}", "{}", "x.custom"),
              "ERR invalid operation: the default formatter cannot escape for 'upper' (in x.custom:1)");

    env.set_formatter([](Output& out, const State& state, const Value& v) -> Result<void> {
        if (state.auto_escape().kind == AutoEscape::Kind::Custom) {
            return out.write("<" + v.to_string() + ">");
        }
        return write_default_formatted(out, state, v);
    });
    EXPECT_EQ(render(env, "{{ 1 }}{{ 'a' }}", "{}", "x.custom"), "<1><a>");
    EXPECT_EQ(render(env, "{{ '<' }}", "{}", "x.html"), "&lt;");

    env.add_filter("wrap", [](State&, const Value& v, const Args& args) -> Result<Value> {
        if (!v.is_string()) {
            return fail(ErrorKind::InvalidOperation, "wrap needs a string");
        }
        if (!args.positional.empty()) {
            return fail(ErrorKind::TooManyArguments);
        }
        return Value::safe_string("[" + v.str() + "]");
    });
    EXPECT_EQ(render(env, "{{ 'a'|wrap }}"), "[a]");
    EXPECT_EQ(render(env, "{{ 1|wrap }}"), "ERR invalid operation: wrap needs a string (in inline:1)");
    EXPECT_EQ(render(env, "{{ 'a'|wrap(1) }}"), "ERR too many arguments (in inline:1)");

    EXPECT_EQ(render(env, "{{ d.get('a') }}", R"({"d": {"a": 1}})"),
              "ERR unknown method: dict has no method named get (in inline:1)");
    env.set_unknown_method_callback(
        [](State&, const Value& recv, std::string_view name, const Args& args) -> Result<Value> {
            if (name == "get" && recv.kind() == Value::Kind::Map && args.positional.size() == 1) {
                return recv.get_item(args.positional[0]);
            }
            return fail(ErrorKind::UnknownMethod, std::string(name));
        });
    EXPECT_EQ(render(env, "{{ d.get('a') }}|{{ d.get('z') }}|{{ d.items()|list }}", R"({"d": {"a": 1}})"),
              "1||[('a', 1)]");
    EXPECT_EQ(render(env, "{{ 'x'.get(1) }}"), "ERR unknown method: get (in inline:1)");
}

TEST(JinjaEval, CompiledTemplatesRenderRepeatedlyAndStoredOnesAreReplaced) {
    Environment env;
    ASSERT_TRUE(env.add_template("t", "{{ n }}"));
    ASSERT_TRUE(env.add_template("t", "<{{ n }}>"));
    auto t = env.get_template("t");
    ASSERT_TRUE(t);
    EXPECT_EQ(*t->render(ctx(R"({"n": 1})")), "<1>");
    EXPECT_EQ(*t->render(ctx(R"({"n": 2})")), "<2>");
    EXPECT_FALSE(env.get_template("other"));
    EXPECT_FALSE(env.add_template("broken", "{% if %}"));
    EXPECT_FALSE(env.get_template("broken"));  // a failed compile stores nothing
    auto once = env.compile("tmp", "{{ 1 }}");
    ASSERT_TRUE(once);
    EXPECT_FALSE(env.get_template("tmp"));
    auto bad_ctx = t->render(Value::from_int(1));
    ASSERT_FALSE(bad_ctx);
    EXPECT_EQ(bad_ctx.error().kind(), ErrorKind::InvalidOperation);
}

}  // namespace
}  // namespace zelk::jinja
