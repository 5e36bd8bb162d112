#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "composer/discovery.hpp"
#include "composer/template_scanner.hpp"

using namespace zelk::composer;

namespace {

std::vector<std::string> names(const TokenSet& tokens) {
    std::vector<std::string> out;
    for (const auto& t : tokens) {
        out.push_back(t.as_str());
    }
    return out;
}

using Names = std::vector<std::string>;

struct Case {
    const char* text;
    Names expected;
};

}  // namespace

TEST(DiscoverTokens, Table) {
    const std::vector<Case> cases = {
        {"Hello {{ name }}!", {"name"}},
        {"{{ user.name }} {{ user.email }}", {"user.email", "user.name"}},
        {"{{ 'literal' ~ x | default('y') | upper }}", {"x"}},
        {"{{ \"a \\\" b\" ~ z }}", {"z"}},
        {"{{ 'unterminated ~ hidden }}", {}},
        {"{{ x|round(precision) }}", {"precision", "x"}},
        {"{% for item in items %}{{ item.name }} {{ loop.index }}{% endfor %}", {"items"}},
        {"{% for item in items %}{{ loop.previtem }}{% endfor %}", {"items", "loop.previtem"}},
        {"{{ loop.index }}", {"loop.index"}},
        {"{% for i in xs %}{{ loop.cycle('a', 'b') }}{% endfor %}", {"xs"}},
        {"{% for i in xs %}{{ loop.cycle }}{% endfor %}", {"loop.cycle", "xs"}},
        {"{% for k, (v) in d.items() if v > k %}{{ k }}{{ v.x }}{% endfor %}{{ k }}", {"d.items", "k", "v"}},
        {"{% for a in b %}{% for c in a %}{% endfor %}{{ a }}{% endfor %}{{ a }}", {"a", "b"}},
        {"{% endfor %}{% endfor %}{{ q }}", {"q"}},
        {"{% for x in y %}{% endforeach %}{{ x }}", {"x", "y"}},
        {"{% set x = y %}{{ x }}", {"y"}},
        {"{{ x }}{% set x = 1 %}", {"x"}},
        {"{% set x = x + 1 %}", {"x"}},
        {"{% set a, b = c %}{{ a }}", {"a", "b", "c"}},
        {"{% set block_var %}{{ block_var }}", {"block_var"}},
        {"{% if x is defined %}", {"defined", "is", "x"}},
        {"{% if True and None %}{% elif 1e3 %}", {"1e3", "None", "True"}},
        {"{{ a-b }} {{ x[0].name }} {{ y - 1 }}", {".name", "a-b", "x", "y"}},
        {"{{ .5 }} {{ 42 }} {{ - }}", {}},
        {"{{ a }}", {"a"}},
        {"{{ a", {}},
        {"{{ a }} {{ b", {"a"}},
        {"{% if a %} {% if b", {"a"}},
        {"{# {{ c }} #}", {"c"}},
        {"{{- x -}} {{+ y +}}", {"x", "y"}},
        {"{%- if z -%}{%+ if w +%}", {"w", "z"}},
        {"{{ na\xC3\xAFve }}", {"na", "ve"}},
        {"{% include 'x.j2' %}{% raw %}{{ r }}{% endraw %}", {"endraw", "include", "r", "raw"}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(names(discover_tokens(text)), expected) << text;
    }
}

TEST(DiscoverTokensWithBraceCount, RunsOfOtherLengthsAreIgnored) {
    const std::string text = "{{ a }} {{{ b }}}";
    EXPECT_EQ(names(discover_tokens_with_brace_count(text, 2)), (Names{"a"}));
    EXPECT_EQ(names(discover_tokens_with_brace_count(text, 3)), (Names{"b"}));
    EXPECT_TRUE(discover_tokens_with_brace_count(text, 1).empty());
    EXPECT_TRUE(discover_tokens_with_brace_count(text, 0).empty());
    EXPECT_TRUE(discover_tokens_with_brace_count(text, 4).empty());
    // Four braces hold two "{{" matches: the first is part of the run, the second is kept.
    EXPECT_EQ(names(discover_tokens("{{{{ c }}")), (Names{"c"}));
    EXPECT_TRUE(discover_tokens("{{{ d }}").empty());
}

TEST(DiscoverTokensWithBraceCount, HugeCountStillWalksBlocks) {
    EXPECT_EQ(names(discover_tokens_with_brace_count("{% if flag %}{{ a }}", UINT64_MAX)), (Names{"flag"}));
    EXPECT_TRUE(discover_tokens_with_brace_count("{{ a }}", 1u << 30).empty());
}

TEST(DiscoverTokensWithDelimiters, CustomAndEmptyDelimiters) {
    EXPECT_EQ(names(discover_tokens_with_delimiters("<< a >> << b", "<<", ">>")), (Names{"a"}));
    EXPECT_EQ(names(discover_tokens_with_delimiters("[= a =]{% if c %}",
                                                    ExpressionDelimiters::with_delimiters("[=", "=]"))),
              (Names{"a", "c"}));
    EXPECT_TRUE(discover_tokens_with_delimiters("{{ a }}", "", "}}").empty());
    EXPECT_TRUE(discover_tokens_with_delimiters("{{ a }}", "{{", "").empty());
    // At equal positions the variable wins over the block.
    EXPECT_EQ(names(discover_tokens_with_delimiters("{%x%} {% if y %}", "{%", "%}")), (Names{"x", "y"}));
}

TEST(HasBareForLoopOver, OnlyTheBareIterable) {
    EXPECT_TRUE(has_bare_for_loop_over("{% for i in items %}{% endfor %}", "items"));
    EXPECT_TRUE(has_bare_for_loop_over("{%- for i in  items  -%}", "items"));
    for (const char* text : {"{% for i in items | sort %}", "{% for i in obj.items %}",
                             "{% for x in items if x %}", "{{ for i in items }}", "{% for i in items"}) {
        EXPECT_FALSE(has_bare_for_loop_over(text, "items")) << text;
    }
    for (const char* name : {"", "1x", "a.b", "a-b"}) {
        EXPECT_FALSE(has_bare_for_loop_over(std::string("{% for i in ") + name + " %}", name)) << name;
    }
}

TEST(NextJinjaVariableExpression, SkipsCommentsAndRawBlocks) {
    const std::string text = "{% raw %}{{ a }}{% endraw %}{{ b }}";
    const auto found = next_jinja_variable_expression(text, 0);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(text.substr(found->expression_start, found->inner_end + 2 - found->expression_start),
              "{{ b }}");
    EXPECT_EQ(found->inner_start, found->expression_start + 2);

    EXPECT_FALSE(next_jinja_variable_expression("{# {{ c }} #}", 0).has_value());
    EXPECT_FALSE(next_jinja_variable_expression("{# {{ c }}", 0).has_value());
    EXPECT_FALSE(next_jinja_variable_expression("{% raw %}{{ a }}", 0).has_value());
    EXPECT_EQ(next_jinja_variable_expression("{%- raw -%}{{ a }}", 0), (VariableExpression{11, 13, 16}));
    EXPECT_EQ(next_jinja_variable_expression("{{{ a }}", 0), (VariableExpression{0, 2, 6}));
    EXPECT_EQ(next_jinja_variable_expression("x{{ a }}{{ b }}", 1), (VariableExpression{1, 3, 6}));
    EXPECT_EQ(next_jinja_variable_expression("x{{ a }}{{ b }}", 2), (VariableExpression{8, 10, 13}));
    EXPECT_FALSE(next_jinja_variable_expression("{{ a }}", 99).has_value());
}

TEST(NextJinjaVariableExpression, SpacedBlockOpenerTakesPrecedence) {
    // "{%x" is not the opener while a "{% " lies ahead, so its "{{" is found.
    EXPECT_EQ(next_jinja_variable_expression("{%x {{ a }} %} {% if %}", 0), (VariableExpression{4, 6, 9}));
}

TEST(VariableExpressionScanner, IteratesInOrder) {
    VariableExpressionScanner scanner("{{a}}{#c#}{{b}}{% x %}{{c}}");
    std::vector<std::size_t> starts;
    while (const auto e = scanner.next()) {
        starts.push_back(e->expression_start);
    }
    EXPECT_EQ(starts, (std::vector<std::size_t>{0, 10, 22}));
}

// Hostile shapes that would make a re-searching walker quadratic; they must finish and be right.
TEST(Discovery, LargeInputsStayLinear) {
    const std::size_t n = 200000;
    std::string many_vars;
    for (std::size_t i = 0; i < n; ++i) {
        many_vars += "{{ v }}";
    }
    many_vars += "{% if tail %}";
    EXPECT_EQ(names(discover_tokens(many_vars)), (Names{"tail", "v"}));

    std::string odd_runs;
    for (std::size_t i = 0; i < n; ++i) {
        odd_runs += "{% x %}{{{ ";
    }
    odd_runs += "{{ end }}";
    EXPECT_EQ(names(discover_tokens(odd_runs)), (Names{"end", "x"}));

    const std::string braces(10'000'000, '{');
    EXPECT_TRUE(discover_tokens_with_brace_count(braces, 999).empty());
    EXPECT_TRUE(discover_tokens_with_brace_count(braces + "}}", 2).empty());

    std::string nested;
    for (std::size_t i = 0; i < n; ++i) {
        nested += "{% for a" + std::to_string(i % 50) + " in xs %}";
    }
    nested += "{{ a1 }}{{ free }}";
    EXPECT_EQ(names(discover_tokens(nested)), (Names{"free", "xs"}));

    std::string scanned;
    for (std::size_t i = 0; i < n; ++i) {
        scanned += "{{a}}";
    }
    scanned += "{#";
    VariableExpressionScanner scanner(scanned);
    std::size_t count = 0;
    while (scanner.next()) {
        ++count;
    }
    EXPECT_EQ(count, n);
}
