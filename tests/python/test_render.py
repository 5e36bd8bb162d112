"""The rendering API: Renderer, render_template, render_loaded_template and their classes."""

import inspect
import math

import pytest
import yaml

from zelk_compose import _native as zc


def test_render_template_matches_renderer_and_applies_the_fixed_rules():
    template = "{% for t in tools %}\n  {% if t.on %}\n- {{ t.name }}\n  {% endif %}\n{% endfor %}\n"
    context = {"tools": [{"name": "grep", "on": True}, {"name": "sed", "on": False}, {"name": "awk", "on": 1}]}
    expected = "- grep\n- awk\n"
    assert zc.render_template(template, context) == expected
    assert zc.Renderer().render(template, context) == expected
    assert zc.Renderer().render_named("agent.md.j2", template, context) == expected


@pytest.mark.parametrize(
    ("name", "template", "context", "expected"),
    [
        ("x.json.j2", "{{ s }}|{{ n }}", {"s": 'a"b', "n": None}, '"a\\"b"|null'),
        ("page.html.j2", "{{ s }}{{ s | xml_char_safe }}", {"s": "<&>\x01"}, "&lt;&amp;&gt;&#xfffd;" * 2),
        ("notes.toml.j2", "{{ s }}", {"s": "<\"'&>"}, "<\"'&>"),
        ("agent.md.j2", "[{{ n }}]", {"n": None}, "[]"),
        ("t.md", "{{ m.get('k') }}|{{ m.get('k', 'd') }}|{{ m.get('a') }}", {"m": {"a": 1}}, "|d|1"),
        ("t.md", "{{ v | md_table_safe }}", {"v": "a|b\nc"}, "a\\|b c"),
        ("t.md", "{{ v | yaml_safe }}", {"v": ""}, '""'),
    ],
)
def test_render_named_escapes_by_name_and_offers_filters_and_get(name, template, context, expected):
    assert zc.Renderer().render_named(name, template, context) == expected


@pytest.mark.parametrize(
    ("call", "fragment"),
    [
        (lambda: zc.render_template("{{ x.y }}", {}), "(in inline:1)"),
        (lambda: zc.Renderer().render("a\n{% if %}", {}), "inline:2"),
        (lambda: zc.Renderer().render_named("mine.md", "{{ 1 | yaml_safe }}", {}), "(in mine.md:1)"),
        (lambda: zc.render_template("{{ m.get() }}", {"m": {}}), "inline:1"),
        (lambda: zc.render_template("x", [1, 2]), "template context must be an object"),
        (lambda: zc.render_template("{{ n }}", {"n": 2**64 - 1}), "18446744073709551615"),
    ],
)
def test_engine_errors_raise_render_error_without_code(call, fragment):
    with pytest.raises(zc.ZelkRenderError) as caught:
        call()
    assert fragment in caught.value.message
    assert caught.value.code is None
    assert len(caught.value.args) == 6


def test_yaml_safe_output_reads_back_as_the_original_text():
    text = 'a "quoted" \\ path\n\ttab\r\x01\x1f\x7f\x85\x9f\xa0\u2028\ufffe: - # end'
    rendered = zc.render_template("value: {{ v | yaml_safe }}", {"v": text})
    assert yaml.safe_load(rendered) == {"value": text}


def test_context_conversion_happens_before_rendering():
    with pytest.raises(zc.ZelkValidationError) as caught:
        zc.render_template("{% if %}", {"x": math.nan})
    assert caught.value.message == "floating-point values must be finite"
    assert zc.render_template("[{{ x }}]", None) == "[]"
    assert zc.render_template("{{ n }}", {"n": 2**63 - 1}) == str(2**63 - 1)


def test_with_delimiters():
    renderer = zc.Renderer.with_delimiters("[[", "]]")
    assert type(renderer) is zc.Renderer
    assert renderer.render("[[ a ]] {{ a }}", {"a": 1}) == "1 {{ a }}"
    assert zc.Renderer.with_delimiters(open="<<", close=">>").render("<<a>>", {"a": 2}) == "2"
    with pytest.raises(zc.ZelkRenderError) as caught:
        zc.Renderer.with_delimiters("{%", "%}")
    assert caught.value.code is None and caught.value.message


@pytest.mark.parametrize(
    ("call", "argument"),
    [
        (lambda: zc.render_template(1, {}), "template"),
        (lambda: zc.Renderer().render(None, {}), "template"),
        (lambda: zc.Renderer().render_named(1, 2, object()), "name"),
        (lambda: zc.Renderer().render_named("n", 2, {}), "template"),
        (lambda: zc.Renderer.with_delimiters(1, "]]"), "open"),
        (lambda: zc.Renderer.with_delimiters("[[", b"]]"), "close"),
        (lambda: zc.render_loaded_template("request"), "request"),
        (lambda: zc.NamedTemplateAsset("a", 1), "template_text"),
        (lambda: zc.LoadedTemplateRequest(1, "t", {}), "template_name"),
        (lambda: zc.LoadedTemplateRequest("n", None, {}), "template_text"),
    ],
)
def test_wrong_argument_types_raise_type_error_naming_the_argument(call, argument):
    with pytest.raises(TypeError, match=argument):
        call()


def test_loaded_template_with_supporting_templates():
    request = zc.LoadedTemplateRequest(
        "main.md.j2",
        "{% include 'part.html' %}|{% import 'm.j2' as m %}{{ m.hi(data['user name']) }}",
        {"data": {"user name": "<Ann>"}, "key with space": 1},
        [
            zc.NamedTemplateAsset("part.html", "{{ data['user name'] }}"),
            zc.NamedTemplateAsset("m.j2", "{% macro hi(n) %}old{% endmacro %}"),
            zc.NamedTemplateAsset(template_name="m.j2", template_text="{% macro hi(n) %}hi {{ n }}{% endmacro %}"),
        ],
    )
    first = zc.render_loaded_template(request)
    second = zc.render_loaded_template(request=request)
    assert type(first) is zc.RenderedArtifact
    assert (first.template_name, first.rendered) == ("main.md.j2", "&lt;Ann&gt;|hi <Ann>")
    assert second.rendered == first.rendered and second is not first
    assert zc.render_loaded_template(zc.LoadedTemplateRequest("t", "{{ a }}", {"a": 1})).rendered == "1"

    asset = zc.NamedTemplateAsset("a.j2", "text")
    assert (asset.template_name, asset.template_text) == ("a.j2", "text")
    with pytest.raises(AttributeError):
        asset.template_name = "b"


def test_loaded_template_failures():
    broken = zc.LoadedTemplateRequest("m.j2", "fine", {}, (zc.NamedTemplateAsset("unused.j2", "{% for %}"),))
    with pytest.raises(zc.ZelkRenderError) as caught:
        zc.render_loaded_template(broken)
    assert "unused.j2" in caught.value.message and caught.value.code is None

    for context, message in [
        (None, "context must be a Python dict"),
        ([("a", 1)], "context must be a Python dict"),
        ({1: "x"}, "context keys must be strings"),
        ({"x": math.inf}, "floating-point values must be finite"),
        ({"x": object()}, "unsupported Python value type for compose input: object"),
    ]:
        with pytest.raises(zc.ZelkValidationError) as caught:
            zc.LoadedTemplateRequest("n", "t", context)
        assert (caught.value.message, caught.value.code) == (message, None)
    with pytest.raises(TypeError):
        zc.LoadedTemplateRequest("n", "t", {}, ["not an asset"])


def test_context_changed_while_read_is_an_internal_failure():
    class Sneaky:
        def __init__(self, target):
            self.target = target

        def __iter__(self):
            self.target["added"] = 1
            return iter(())

    context = {}
    context["a"] = Sneaky(context)
    with pytest.raises(BaseException, match="dictionary changed size during iteration") as caught:
        zc.LoadedTemplateRequest("n", "t", context)
    assert not isinstance(caught.value, Exception)


def test_class_shapes_and_signatures():
    assert inspect.signature(zc.render_template) == inspect.Signature(
        [inspect.Parameter(n, inspect.Parameter.POSITIONAL_OR_KEYWORD) for n in ("template", "context")]
    )
    assert zc.render_loaded_template.__text_signature__ == "(request)"
    assert zc.render_template.__self__ is zc and zc.render_template.__module__ == "zelk_compose._native"
    assert zc.Renderer.__text_signature__ == "()"
    assert zc.Renderer.with_delimiters.__text_signature__ == "($cls, open, close)"
    assert zc.Renderer.render.__text_signature__ == "($self, template, context)"
    assert zc.Renderer.render_named.__text_signature__ == "($self, name, template, context)"
    assert zc.NamedTemplateAsset.__text_signature__ == "(template_name, template_text)"
    assert (
        zc.LoadedTemplateRequest.__text_signature__
        == "(template_name, template_text, context, supporting_templates=None)"
    )
    for cls in (zc.Renderer, zc.NamedTemplateAsset, zc.LoadedTemplateRequest, zc.RenderedArtifact):
        assert cls.__module__ == "builtins" and cls.__qualname__ == cls.__name__
        assert cls.__doc__ == ("" if cls is not zc.RenderedArtifact else None)
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        zc.RenderedArtifact()
    with pytest.raises(TypeError):
        zc.Renderer(1)
    request = zc.LoadedTemplateRequest("n", "t", {})
    assert not hasattr(request, "template_name") and not hasattr(request, "context")
