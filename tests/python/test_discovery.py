"""Token discovery through the module, checked against a literal transcription of the scan rules."""

import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import zelk_compose._native as z

KEYWORDS = set(
    "if in or for set not and else elif true none endif false block macro endfor filter endblock endmacro "
    "endfilter".split()
)
LOOP_ATTRIBUTES = {
    "loop",
    "loop.index",
    "loop.index0",
    "loop.revindex",
    "loop.revindex0",
    "loop.first",
    "loop.last",
    "loop.length",
    "loop.depth",
    "loop.depth0",
}
NAME_CHARS = set("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_")


# --- reference: every search restarts from scratch, exactly as the rules read -------------------


def ref_find_run(text, needle, start):
    at = text.find(needle, start)
    while at != -1 and text[at + len(needle) : at + len(needle) + 1] == needle[0]:
        at = text.find(needle, at + len(needle))
    return at


def ref_strip(inner):
    if inner.startswith("-"):
        inner = inner[1:]
    if inner.endswith("-") or inner.endswith("+"):
        inner = inner[:-1]
    return inner.strip()


def ref_mask(expr):
    out = list(expr)
    i = 0
    while i < len(out):
        if out[i] in "\"'":
            quote, j = out[i], i + 1
            while j < len(out) and out[j] != quote:
                j += 2 if out[j] == "\\" else 1
            end = min(j + 1, len(out))
            out[i:end] = " " * (end - i)
            i = end
        else:
            i += 1
    for i, c in enumerate(out):
        if c == "|":
            j = i + 1
            while j < len(out) and out[j] in " \t\n\f\r":
                j += 1
            while j < len(out) and out[j] in NAME_CHARS:
                out[j] = " "
                j += 1
    return "".join(out)


def ref_collect(expr, scopes, tokens):
    excluded = set().union(*scopes)
    masked = ref_mask(expr)
    word = ""
    for c in masked + " ":
        if c in NAME_CHARS or c in "-.":
            word += c
            continue
        if word and word not in KEYWORDS and any(ch.isascii() and ch.isalpha() for ch in word):
            head = word.split(".", 1)[0]
            if head not in excluded:
                skip = False
                if len(scopes) > 1:
                    if word in LOOP_ATTRIBUTES:
                        skip = True
                    elif word == "loop.cycle":
                        at = masked.find("loop.cycle")
                        skip = masked[at + 10 :].lstrip().startswith("(")
                if not skip:
                    tokens.add(word)
        word = ""


def ref_split_for(statement):
    statement = statement.strip()
    if len(statement) <= 3 or not statement.startswith("for "):
        return None
    at = statement.find(" in ", 4)
    if at == -1:
        return None
    return statement[4:at], statement[at + 4 :]


def ref_discover(text, open_, close):
    if not open_ or not close:
        return set()
    tokens, scopes, pos = set(), [set()], 0
    while True:
        var = ref_find_run(text, open_, pos)
        block = text.find("{%", pos)
        if block != -1 and (var == -1 or block < var):
            end = text.find("%}", block + 2)
            if end == -1:
                break
            statement = ref_strip(text[block + 2 : end])
            pos = end + 2
            loop = ref_split_for(statement)
            if loop is not None:
                ref_collect(loop[1], scopes, tokens)
                scope = set()
                for piece in loop[0].split(","):
                    piece = piece.strip().strip("()")
                    if piece:
                        scope.add(piece.split(".", 1)[0])
                scopes.append(scope)
            elif statement.startswith("endfor"):
                if len(scopes) > 1:
                    scopes.pop()
            else:
                s = statement.strip()
                target = s[4 : s.find("=", 4)].strip() if s.startswith("set ") and s.find("=", 4) != -1 else ""
                if len(s) > 3 and target and all(c in NAME_CHARS for c in target):
                    ref_collect(s[s.find("=", 4) + 1 :], scopes, tokens)
                    scopes[0].add(target)
                else:
                    ref_collect(statement, scopes, tokens)
        elif var != -1:
            start = var + len(open_)
            end = ref_find_run(text, close, start)
            if end == -1:
                break
            ref_collect(ref_strip(text[start:end]), scopes, tokens)
            pos = end + len(close)
        else:
            break
    return tokens


def names(result):
    assert all(type(item) is z.VariableName for item in result)
    return [str(item) for item in result]


# --- module behaviour -------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("{{ b }} {{ a }} {{ b }}", ["a", "b"]),
        ("Hello {{ name }}!", ["name"]),
        ("{{ 'literal' ~ x | default('y') | upper }}", ["x"]),
        ("{% for item in items %}{{ item.name }} {{ loop.index }}{% endfor %}", ["items"]),
        ("{% set x = y %}{{ x }}", ["y"]),
        ("{% if x is defined %}", ["defined", "is", "x"]),
        ("{{ a }} {{ b", ["a"]),
        ("{# {{ c }} #}", ["c"]),
        ("{{ Zed }} {{ _u }} {{ a }}", ["Zed", "_u", "a"]),
    ],
)
def test_discover_tokens(text, expected):
    assert names(z.discover_tokens(text)) == expected
    assert names(z.discover_tokens(text=text)) == expected


@pytest.mark.parametrize(("count", "expected"), [(0, []), (1, []), (2, ["a"]), (3, ["b"]), (4, []), (2**64 - 1, [])])
def test_discover_tokens_with_brace_count(count, expected):
    assert names(z.discover_tokens_with_brace_count("{{ a }} {{{ b }}}", count)) == expected


def test_discovery_argument_errors():
    with pytest.raises(OverflowError):
        z.discover_tokens_with_brace_count("{{ a }}", -1)
    with pytest.raises(OverflowError):
        z.discover_tokens_with_brace_count("{{ a }}", 2**64)
    for bad in (b"{{ a }}", None, 1):
        with pytest.raises(TypeError, match="text"):
            z.discover_tokens(bad)
    with pytest.raises(TypeError, match="brace_count"):
        z.discover_tokens_with_brace_count("x", "2")
    with pytest.raises(TypeError):
        z.discover_tokens_with_brace_count("x")
    with pytest.raises(TypeError):
        z.discover_tokens("a", "b")


def test_non_ascii_and_surrogates():
    assert names(z.discover_tokens("{{ naïve }} {{ 名前 }}")) == ["na", "ve"]
    with pytest.raises(UnicodeEncodeError):
        z.discover_tokens("{{ a }}\ud800")


FRAGMENTS = st.sampled_from(
    [
        "{{", "}}", "{{{", "}}}", "{%", "%}", "{%-", "-%}", "{#", "#}", " ", "\n", "|", "'", '"', "\\", "(", ")",
        ",", "=", ".", "-", "+", "0", "a", "b", "x.y", "loop", "loop.index", "loop.cycle", "for ", " in ", "set ",
        "endfor", "if ", "is", "True", "item", "items", "upper", "default(", "ä", "{", "}",
    ]
)


@settings(max_examples=400, deadline=None)
@given(st.lists(FRAGMENTS, max_size=40).map("".join), st.integers(min_value=2, max_value=4))
def test_matches_the_literal_rules(text, count):
    expected = sorted(ref_discover(text, "{" * count, "}" * count), key=lambda s: s.encode())
    assert names(z.discover_tokens_with_brace_count(text, count)) == expected
