// Tokenizer: whitespace control, delimiters, raw blocks, literals and lexical errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jinja/lexer.hpp"

namespace zelk::jinja::detail {
namespace {

// Renders tokens compactly: data as [text], tags as {{ }} / {% %}, names and ops as is.
std::string show(std::string_view src, bool trim = false, bool lstrip = false, std::string_view vs = "{{",
                 std::string_view ve = "}}") {
    auto toks = tokenize(src, LexerConfig{vs, ve, trim, lstrip});
    if (!toks) {
        return "ERR " + toks.error().detail() + " @" + std::to_string(toks.error().line());
    }
    std::string out;
    for (const auto& t : *toks) {
        switch (t.kind) {
            case Tok::Data:
                out += "[" + std::string(t.text) + "]";
                break;
            case Tok::VarBegin:
                out += "{{ ";
                break;
            case Tok::VarEnd:
                out += "}} ";
                break;
            case Tok::BlockBegin:
                out += "{% ";
                break;
            case Tok::BlockEnd:
                out += "%} ";
                break;
            case Tok::String:
                out += "'" + t.str + "' ";
                break;
            case Tok::Int:
                out += "i" + std::to_string(t.i) + " ";
                break;
            case Tok::Float:
                out += "f" + std::to_string(t.f) + " ";
                break;
            case Tok::Eof:
                break;
            default:
                out += std::string(t.text) + " ";
        }
    }
    return out;
}

struct Case {
    std::string src;
    bool trim;
    bool lstrip;
    std::string expected;
};

TEST(JinjaLexer, WhitespaceControlAndOptions) {
    const std::vector<Case> cases = {
        {"a {{- x -}} b", false, false, "[a]{{ x }} [b]"},
        {"a\n  {%- if x %}\n b", false, false, "[a]{% if x %} [\n b]"},
        {"  {%+ if x +%}\nb", true, true, "[  ]{% if x %} [\nb]"},
        // trim_blocks removes exactly one line break of any kind, CRLF counting once
        {"{% if x %}\r\n\r\nb", true, false, "{% if x %} [\r\nb]"},
        {"{% if x %}\rb", true, false, "{% if x %} [b]"},
        {"{# c #}\nb", true, false, "[b]"},
        // lstrip_blocks only strips indentation at a line start, never before {{
        {"a\n  {% if x %}", false, true, "[a\n]{% if x %} "},
        {"a  {% if x %}", false, true, "[a  ]{% if x %} "},
        {"a\r\n\t{% if x %}", false, true, "[a\r\n]{% if x %} "},
        {"  {{ x }}", false, true, "[  ]{{ x }} "},
        {"x {#- note -#} y", false, false, "[x][y]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(show(c.src, c.trim, c.lstrip), c.expected) << c.src;
    }
}

TEST(JinjaLexer, RawBlocksKeepTheirContent) {
    EXPECT_EQ(show("{% raw %}{{ x }}{% x %}{% endraw %}!"), "[{{ x }}{% x %}][!]");
    EXPECT_EQ(show("a {%- raw -%} {{ x }} {%- endraw -%} b"), "[a][{{ x }}][b]");
    EXPECT_EQ(show("{% raw %}\n  {% endraw %}\nz", true, true), "[\n][z]");
    EXPECT_EQ(show("{% raw %}never closed"), "ERR missing endraw tag @1");
}

TEST(JinjaLexer, CustomDelimitersAndBracketBalancing) {
    EXPECT_EQ(show("{{ a }} {{{ b }}}", false, false, "{{{", "}}}"), "[{{ a }} ]{{ b }} ");
    // a closing delimiter inside brackets belongs to the expression
    EXPECT_EQ(show("{{ {'a': {'b': 1}} }}"), "{{ { 'a' : { 'b' : i1 } } }} ");
    EXPECT_EQ(show("{{ ) }}"), "ERR unexpected ')' @1");
    EXPECT_EQ(show("<< x >>", false, false, "<<", ">>"), "{{ x }} ");
}

TEST(JinjaLexer, Literals) {
    EXPECT_EQ(show(R"({{ 'a\n\'b' "\x41\u00e9\101" '\q' }})"),
              "{{ 'a\n'b' 'A\xc3\xa9"
              "A' '\\q' }} ");
    EXPECT_EQ(show("{{ 1_000 0x1F 0o17 0b11 1.5e3 2e2 1. a.0.1 }}"),
              "{{ i1000 i31 i15 i3 f1500.000000 f200.000000 i1 . a . i0 . i1 }} ");
    EXPECT_EQ(show("{{ 99999999999999999999 }}"), "ERR integer literal too large @1");
    EXPECT_EQ(show("\n{{ 'open }}"), "ERR unexpected end of string @2");
    EXPECT_EQ(show("{{ x ! y }}"), "ERR unexpected character '!' @1");
}

TEST(JinjaLexer, LineNumbersCountEveryLineBreakOnce) {
    auto toks = tokenize("a\r\nb\rc\n{{ x }}", LexerConfig{"{{", "}}", false, false});
    ASSERT_TRUE(toks);
    EXPECT_EQ((*toks)[1].kind, Tok::VarBegin);
    EXPECT_EQ((*toks)[1].line, 4u);
    EXPECT_EQ(show("{# open"), "ERR missing end of comment tag @1");
    EXPECT_EQ(show("\n\n{% if"), "ERR unexpected end of template, expected end of block @3");
}

}  // namespace
}  // namespace zelk::jinja::detail
