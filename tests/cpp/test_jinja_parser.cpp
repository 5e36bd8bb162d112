// Parser: precedence and associativity, statement structure, and syntax errors with lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jinja/ast.hpp"
#include "jinja/jinja.hpp"

namespace zelk::jinja {
namespace {

std::string render(std::string_view src) {
    auto r = Environment().render_named_str("t", src, Value());
    return r ? *r : "ERR " + r.error().display();
}

struct Case {
    std::string src;
    std::string expected;
};

TEST(JinjaParser, PrecedenceFollowsJinja2) {
    const std::vector<Case> cases = {
        {"{{ 1 + 2 * 3 }} {{ (1 + 2) * 3 }} {{ 2 ** 3 ** 2 }} {{ -2 ** 2 }} {{ 10 - 2 - 3 }}", "7 9 64 4 5"},
        {"{{ 2 * 3 ~ 4 }} {{ 'a' ~ 'b' | upper }} {{ -1 | abs }} {{ not 1 == 2 }}", "64 aB 1 True"},
        {"{{ 1 if 0 else 2 if 0 else 3 }} {{ 0 or 1 and 2 }} {{ not 0 and 0 }}", "3 2 0"},
        // a test binds to the operand next to it: 1 + (1 is even)
        {"{{ 3 is odd and 2 is even }} {{ 1 + 1 is even }} {{ not 2 is odd }}", "True 1 True"},
        {"{{ 'a' in 'abc' == true }} {{ [1, 2][1:] }} {{ 'abc'[::-1][0] }}", "False [2] c"},
        {"{{ (1, 2)[0] }} {{ 1, 2 }} {{ {'a': 1,}['a'] }} {{ [1, 2,] }} {{ () }}", "1 (1, 2) 1 [1, 2] ()"},
        {"{{ 'a' 'b' }} {{ true }}{{ True }}{{ none }}{{ None }}", "ab TrueTrueNoneNone"},
        {"{{ range(3)|map('string')|join('-') }} {{ [3, 1]|sort|first }}", "0-1-2 1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(render(c.src), c.expected) << c.src;
    }
}

TEST(JinjaParser, SyntaxErrorsNameTheLine) {
    const std::vector<Case> cases = {
        {"{{ }}", "ERR syntax error: expected an expression, got end of print statement (in t:1)"},
        {"a\n{{ 1 + }}", "ERR syntax error: unexpected end of print statement (in t:2)"},
        {"{% if 1 %}\n{% endfor %}", "ERR syntax error: unknown statement endfor (in t:2)"},
        {"{% for x in y %}", "ERR syntax error: unexpected end of template, expected 'endfor' (in t:1)"},
        {"{% nope %}", "ERR syntax error: unknown statement nope (in t:1)"},
        {"{% set 1 = 2 %}", "ERR syntax error: can't assign to this expression (in t:1)"},
        {"{% macro m(a=1, b) %}{% endmacro %}",
         "ERR syntax error: non-default argument follows default argument (in t:1)"},
        {"{% call m %}{% endcall %}", "ERR syntax error: expected call (in t:1)"},
        {"{% block a %}{% endblock b %}",
         "ERR syntax error: mismatching name of endblock: expected 'a' (in t:1)"},
        {"{% from 'x' import _private %}",
         "ERR syntax error: names starting with an underline can not be imported (in t:1)"},
        {"{{ f(a=1, 2) }}", "ERR syntax error: invalid syntax for function call expression (in t:1)"},
        {"{{ x is odd is even }}", "ERR syntax error: You cannot chain multiple tests with is (in t:1)"},
        {"{% for x in y %}{% macro m() %}{% break %}{% endmacro %}{% endfor %}",
         "ERR syntax error: 'break' outside of a loop (in t:1)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(render(c.src), c.expected) << c.src;
    }
}

TEST(JinjaParser, RecordsBlocksAndWhatMacrosUse) {
    detail::Program p;
    p.name = "t";
    p.source =
        "{% block head %}{% block inner scoped %}{% endblock %}{% endblock %}"
        "{% macro m(a, b=1) %}{{ caller() }}{{ varargs }}{% macro n() %}{{ kwargs }}{% endmacro %}{% "
        "endmacro %}";
    ASSERT_TRUE(detail::parse_program(p, Environment()));
    ASSERT_EQ(p.blocks.size(), 2u);
    EXPECT_TRUE(p.blocks.at("inner")->scoped);
    const detail::Stmt* m = p.body.back();
    ASSERT_EQ(m->kind, detail::StmtKind::Macro);
    ASSERT_EQ(m->sig.params.size(), 2u);
    EXPECT_EQ(m->sig.params[0].second, nullptr);
    EXPECT_NE(m->sig.params[1].second, nullptr);
    EXPECT_TRUE(m->sig.uses_caller);
    EXPECT_TRUE(m->sig.uses_varargs);
    EXPECT_FALSE(m->sig.uses_kwargs);  // only the nested macro uses kwargs
}

TEST(JinjaParser, NestingIsBounded) {
    std::string deep;
    for (int i = 0; i < 1000; ++i) {
        deep += "{% if 1 %}";
    }
    EXPECT_EQ(render(deep), "ERR limit exceeded: template nesting too deep (in t:1)");
    EXPECT_EQ(render("{{ " + std::string(300, '[') + std::string(300, ']') + " }}"),
              "ERR limit exceeded: template nesting too deep (in t:1)");
    // well below the limit everything parses
    EXPECT_EQ(render("{{ " + std::string(50, '(') + "1" + std::string(50, ')') + " }}"), "1");
}

}  // namespace
}  // namespace zelk::jinja
