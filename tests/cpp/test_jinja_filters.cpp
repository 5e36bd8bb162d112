// Built-in filters, tests, global functions and the Python methods on values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jinja/jinja.hpp"
#include "jinja/json.hpp"

namespace zelk::jinja {
namespace {

struct Case {
    std::string src;
    std::string expected;
};

constexpr std::string_view kContext = R"({
  "users": [{"name": "ann", "age": 30, "city": "b"}, {"name": "bob", "age": 20, "city": "a"},
            {"name": "cy", "age": 40, "city": "b"}],
  "d": {"b": 2, "a": 1}, "s": "Hello World"})";

void check(const std::vector<Case>& cases) {
    const Value context = value_from_json(nlohmann::ordered_json::parse(kContext));
    for (const auto& c : cases) {
        auto r = Environment().render_named_str("inline", c.src, context);
        EXPECT_EQ(r ? *r : "ERR " + r.error().display(), c.expected) << c.src;
    }
}

TEST(JinjaFilters, Strings) {
    check({
        {"{{ s|upper }} {{ s|lower }} {{ s|title }} {{ 'hELLO wORLD'|capitalize }}",
         "HELLO WORLD hello world Hello World Hello world"},
        {"{{ 'ß'|upper }} {{ 'ÉCOLE'|lower }} {{ 'élan vital'|title }}", "SS école Élan Vital"},
        {"[{{ '  x  '|trim }}] [{{ 'xxaxx'|trim('x') }}] [{{ 'ab'|center(6) }}]", "[x] [a] [  ab  ]"},
        {"{{ 'aaa'|replace('a', 'b', 2) }} {{ 'ab'|replace('', '-') }} {{ s|length }} {{ s|wordcount }}",
         "bba -a-b- 11 2"},
        {"{{ 'hello world foo bar'|truncate(12) }}|{{ 'hello world foo'|truncate(9, true, '..', 0) }}",
         "hello...|hello w.."},
        {"{{ 'a\nb\n\nc'|indent(2) }}|{{ 'a\nb'|indent('> ', first=true) }}", "a\n  b\n\n  c|> a\n> b"},
        {"{{ '<p>a <b>b</b></p> &amp; c'|striptags }}", "a b & c"},
        {"{{ 'a b&c/d'|urlencode }} {{ {'k': 'v w', 'x': 1}|urlencode }}", "a%20b%26c/d k=v+w&x=1"},
        {"{{ 'the quick brown fox'|wordwrap(10) }}", "the quick\nbrown fox"},
        {"{{ '%s-%05.1f-%x-%r' % ('a', 3.14159, 255, 'q') }} {{ '%(a)s' % {'a': 1} }} {{ '%d'|format(3) }}",
         "a-003.1-ff-'q' 1 3"},
        {"{{ '%s %s' % ('a',) }}",
         "ERR invalid operation: not enough arguments for format string (in inline:1)"},
        {"{{ 'a b'|split }} {{ 'a,b'|split(',') }} {{ 'a\r\nb\n'|lines }}",
         "['a', 'b'] ['a', 'b'] ['a', 'b']"},
    });
}

TEST(JinjaFilters, Sequences) {
    check({
        {"{{ users|map(attribute='name')|join(', ') }}", "ann, bob, cy"},
        {"{{ users|selectattr('age', 'gt', 25)|map(attribute='name')|list }}", "['ann', 'cy']"},
        {"{{ users|rejectattr('city', 'eq', 'b')|map(attribute='name')|first }}", "bob"},
        {"{{ [1, 2, 3, 4]|select('even')|list }} {{ [1, 0, 2]|reject|list }} {{ ['a']|map('upper')|list }}",
         "[2, 4] [0] ['A']"},
        {"{{ users|sort(attribute='age')|map(attribute='name')|list }} {{ ['b', 'A', 'c']|sort }}",
         "['bob', 'ann', 'cy'] ['A', 'b', 'c']"},
        {"{{ ['b', 'A']|sort(case_sensitive=true) }} {{ [3, 1, 2]|sort(reverse=true) }}",
         "['A', 'b'] [3, 2, 1]"},
        {"{% for city, group in users|groupby('city') %}{{ city }}:{{ group|map(attribute='name')|join }} "
         "{% endfor %}",
         "a:bob b:anncy "},
        {"{% for g in users|groupby('city') %}{{ g.grouper }}{{ g.list|length }}{% endfor %}", "a1b2"},
        {"{{ d|dictsort }} {{ d|dictsort(by='value', reverse=true) }} {{ d|items|list }}",
         "[('a', 1), ('b', 2)] [('b', 2), ('a', 1)] [('b', 2), ('a', 1)]"},
        {"{{ [1, 2, 3, 4, 5]|batch(2, 0)|list }} {{ [1, 2, 3, 4, 5]|slice(2)|list }}",
         "[[1, 2], [3, 4], [5, 0]] [[1, 2, 3], [4, 5]]"},
        {"{{ [3, 1, 2]|max }} {{ users|min(attribute='age')|attr('name') }} {{ []|max }} {{ [1, "
         "2]|sum(start=10) }}",
         "3 bob  13"},
        {"{{ ['a', 'A', 'b']|unique|list }} {{ 'abc'|reverse }} {{ [1, 2]|reverse|list }} {{ 'ab'|list }}",
         "['a', 'b'] cba [2, 1] ['a', 'b']"},
        {"{{ [1, 2]|chain([3], (4,))|list }} {{ [1, 2]|zip('ab')|list }} {{ d|length }} {{ 0|bool }}",
         "[1, 2, 3, 4] [(1, 'a'), (2, 'b')] 2 False"},
        {"{{ 1|length }}", "ERR invalid operation: object of type 'int' has no len() (in inline:1)"},
    });
}

TEST(JinjaFilters, NumbersAndConversions) {
    check({
        {"{{ '42'|int }} {{ '0x1f'|int(base=16) }} {{ '3.9'|int }} {{ 'x'|int(-1) }} {{ 3.9|int }}",
         "42 31 3 -1 3"},
        {"{{ '2.5'|float }} {{ 'x'|float }} {{ -3|abs }} {{ 2.5|round }} {{ 3.5|round }} {{ 2.675|round(2) "
         "}}",
         "2.5 0.0 3 2.0 4.0 2.67"},
        {"{{ 3.14159|round(2, 'floor') }} {{ 1.01|round(1, 'ceil') }} {{ 7|round }}", "3.14 1.1 7"},
        {"{{ 1|filesizeformat }} {{ 1000|filesizeformat }} {{ 1536|filesizeformat(true) }} {{ "
         "3e9|filesizeformat }}",
         "1 Byte 1.0 kB 1.5 KiB 3.0 GB"},
        {"{{ 3|string ~ 1 }} {{ none|string }} {{ x|default('d') }} {{ ''|default('e', true) }}",
         "31 None d e"},
    });
}

TEST(JinjaFilters, JsonAndMarkup) {
    check({
        {"{{ d|tojson }} {{ 'é<\\''|tojson }} {{ [1.0, none, true]|tojson }}",
         R"({"a": 1, "b": 2} "\u00e9\u003c\u0027" [1.0, null, true])"},
        {"{{ {'a': [1]}|tojson(indent=2) }}", "{\n  \"a\": [\n    1\n  ]\n}"},
        {"{{ x|tojson }}",
         "ERR could not serialize to value: object of type Undefined is not JSON serializable "
         "(in inline:1)"},
        {"{{ '<a>'|e }} {{ '<a>'|safe|e }} {{ '<a>'|forceescape }} {{ 'a'|safe is escaped }}",
         "&lt;a&gt; <a> &lt;a&gt; True"},
        {"{{ {'class': 'a<', 'id': none}|xmlattr }}", " class=\"a&lt;\""},
        {"{{ {'a b': 1}|xmlattr }}",
         "ERR invalid operation: Invalid character in attribute name: 'a b' (in inline:1)"},
        {"{{ [1, 'a']|pprint }}", "[1, 'a']"},
    });
}

TEST(JinjaTests, BuiltInTests) {
    check({
        {"{{ x is defined }}{{ x is undefined }}{{ none is none }}{{ 1 is number }}{{ true is number }}",
         "FalseTrueTrueTrueTrue"},
        {"{{ 1 is integer }}{{ true is integer }}{{ 1.0 is float }}{{ true is boolean }}{{ 'a' is string }}",
         "TrueFalseTrueTrueTrue"},
        {"{{ d is mapping }}{{ users is sequence }}{{ 'a' is iterable }}{{ 1 is iterable }}",
         "TrueTrueTrueFalse"},
        {"{{ 3 is odd }}{{ 3 is even }}{{ 9 is divisibleby 3 }}{{ 9 is divisibleby(4) }}",
         "TrueFalseTrueFalse"},
        {"{{ 1 is eq 1 }}{{ 1 is ne 1 }}{{ 1 is lt 2 }}{{ 2 is ge 2 }}{{ 2 is greaterthan 3 }}",
         "TrueFalseTrueTrueFalse"},
        {"{{ 'ab' is lower }}{{ 'AB' is upper }}{{ 'A1' is upper }}{{ '1' is lower }}", "TrueTrueTrueFalse"},
        {"{{ 2 is in [1, 2] }}{{ none is sameas none }}{{ true is true }}{{ 1 is true }}{{ 'upper' is filter "
         "}}",
         "TrueTrueTrueFalseTrue"},
        {"{{ 'ab' is startingwith 'a' }}{{ 'ab' is endingwith 'a' }}{{ range is callable }}{{ x is not "
         "defined }}",
         "TrueFalseTrueTrue"},
    });
}

TEST(JinjaGlobals, Functions) {
    check({
        {"{{ range(3)|list }} {{ range(1, 10, 4)|list }} {{ range(3, 0, -1)|list }} {{ range(0)|list }}",
         "[0, 1, 2] [1, 5, 9] [3, 2, 1] []"},
        {"{{ dict(a=1, b='x') }} {{ dict({'a': 1}, b=2) }}", "{'a': 1, 'b': 'x'} {'a': 1, 'b': 2}"},
        {"{% set c = cycler('a', 'b') %}{{ c.next() }}{{ c.next() }}{{ c.next() }}{{ c.current }}", "abab"},
        {"{% set j = joiner('|') %}{% for i in [1, 2, 3] %}{{ j() }}{{ i }}{% endfor %}", "1|2|3"},
        {"{% set ns = namespace(a=1) %}{% set ns.b = 2 %}{{ ns.a + ns.b }} {{ ns }}",
         "3 <Namespace {'a': 1, 'b': 2}>"},
        {"{{ range(1, 2, 0) }}", "ERR invalid operation: range() arg 3 must not be zero (in inline:1)"},
        {"{% set x = 1 %}{% set x.y = 2 %}",
         "ERR invalid operation: cannot assign attribute on non-namespace object (in inline:1)"},
    });
}

TEST(JinjaMethods, StringsMapsAndLists) {
    check({
        {"{{ s.upper() }} {{ s.lower() }} {{ 'a b'.title() }} {{ 'aB'.capitalize() }}",
         "HELLO WORLD hello world A B Ab"},
        {"[{{ ' x '.strip() }}][{{ 'xax'.strip('x') }}][{{ ' x'.lstrip() }}][{{ 'x '.rstrip() }}]",
         "[x][a][x][x]"},
        {"{{ 'a,b,,c'.split(',') }} {{ ' a  b '.split() }} {{ 'a b c'.split(none, 1) }} {{ "
         "'a,b,c'.rsplit(',', 1) }}",
         "['a', 'b', '', 'c'] ['a', 'b'] ['a', 'b c'] ['a,b', 'c']"},
        {"{{ 'a\nb\r\nc'.splitlines() }} {{ 'a\nb'.splitlines(true) }}", "['a', 'b', 'c'] ['a\\n', 'b']"},
        {"{{ s.replace('l', 'L') }} {{ s.replace('l', 'L', 1) }} {{ s.startswith('He') }} {{ "
         "s.endswith(('x', 'd')) }}",
         "HeLLo WorLd HeLlo World True True"},
        {"{{ s.find('o') }} {{ s.rfind('o') }} {{ s.find('z') }} {{ s.count('l') }} {{ 'é-é'.find('-') }}",
         "4 7 -1 3 1"},
        {"{{ '-'.join(['a', 'b']) }} {{ '{} {:>4} {x:.2f} {0}'.format('a', 'b', x=1.5) }}",
         "ERR invalid operation: cannot switch from automatic field numbering to manual field specification "
         "(in inline:1)"},
        {"{{ '{}-{:>4}-{x:.2f}-{y:,}'.format('a', 'b', x=1.5, y=1234567) }} {{ '{0}{1}{0}'.format('a', 'b') "
         "}}",
         "a-   b-1.50-1,234,567 aba"},
        {"{{ 'abc'.isalpha() }}{{ '12'.isdigit() }}{{ 'ab'.islower() }}{{ 'Ab Cd'.istitle() }}{{ ' "
         "'.isspace() }}"
         "{{ 'a1'.isalnum() }}{{ ''.isalpha() }}",
         "TrueTrueTrueTrueTrueTrueFalse"},
        {"{{ d.keys()|list }} {{ d.values()|list }} {{ d.items()|list }} {{ [1, 2, 1].count(1) }}",
         "['b', 'a'] [2, 1] [('b', 2), ('a', 1)] 2"},
        {"{% for k, v in d.items() %}{{ k }}{{ v }}{% endfor %}", "b2a1"},
        {"{{ d.get('a') }}", "ERR unknown method: dict has no method named get (in inline:1)"},
    });
}

}  // namespace
}  // namespace zelk::jinja
