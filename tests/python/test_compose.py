"""compose, compose_file and render_all: results, provenance, multi-pass rendering and errors."""

import pathlib
import re

import pytest

import zelk_compose._native as z


@pytest.fixture
def root(tmp_path):
    workspace = tmp_path / "w"
    workspace.mkdir()
    return workspace.resolve()


def write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text, encoding="utf-8")
    return path


def file_request(root, template, **kwargs):
    return z.ComposeRequest(root, z.ComposeMode.file(template), **kwargs)


AGENT = """---
required_variables: [project]
defaults:
  tone: calm
---
Review {{ project }} in a {{ tone }} tone.
@<shared/rules.md>


"""


def test_compose_returns_text_and_provenance(root):
    agent = write(root / ".claude/agents/reviewer.md.j2", AGENT)
    rules = write(root / "shared/rules.md", "Rules for {{ project }}.\n")
    request = z.ComposeRequest(root, z.ComposeMode.profile("agent", "reviewer"),
                               vars_input={"project": "zelk"}, guidance_block="G", user_prompt="U")
    result = z.compose(request)
    assert result.rendered_text == "Review zelk in a calm tone.\nRules for zelk.\n\nG\n\nU"
    assert result.resolve_result.resolved_path == str(agent)
    assert result.resolved_files == [str(agent), str(rules)]
    builtins = dict.fromkeys(z.BUILTIN_VARIABLE_NAMES, "builtin")
    assert result.variable_sources == {"project": "explicit_input", "tone": "frontmatter_default", **builtins}
    assert list(result.variable_sources) == sorted(result.variable_sources)
    assert re.fullmatch("[0-9a-f]{64}", result.composition_sha256)
    # The included file has no frontmatter but uses a token.
    assert [w.code for w in result.warnings if w.code == "ERR_VAL_MISSING_FRONTMATTER"]
    assert all(isinstance(w, z.Diagnostic) for w in result.warnings)


def test_compose_and_compose_file_agree(root):
    write(root / "t.md.j2", "---\nrequired_variables: [a]\n---\n{{ a }}\n")
    request = file_request(root, "t.md.j2", vars_input={"a": 1})
    first, second = z.compose(request), z.compose_file(request)
    for attribute in ["rendered_text", "resolved_files", "composition_sha256"]:
        assert getattr(first, attribute) == getattr(second, attribute)
    # Every read builds new objects.
    assert first.resolved_files is not first.resolved_files


def test_hash_follows_the_files_not_the_variables(root):
    write(root / "t.md.j2", "---\nrequired_variables: [a]\n---\n{{ a }}\n")
    one = z.compose(file_request(root, "t.md.j2", vars_input={"a": 1}))
    two = z.compose(file_request(root, "t.md.j2", vars_input={"a": 2}))
    assert one.composition_sha256 == two.composition_sha256
    write(root / "t.md.j2", "---\nrequired_variables: [a]\n---\n{{ a }}!\n")
    assert z.compose(file_request(root, "t.md.j2", vars_input={"a": 1})).composition_sha256 != one.composition_sha256


def test_multi_pass_renders_each_pass_with_more_braces(root):
    write(root / "notes.md.j2", "---\nrequired_variables: [version]\n---\n---\npass: 2\ndefaults:\n"
                                "  audience: users\n---\nv{{ version }} for {{{ audience }}}\n")
    result = z.compose(file_request(root, "notes.md.j2", vars_input={"version": "1.2"}))
    assert result.rendered_text == "v1.2 for users"


def test_json_template_escapes_values_as_json(root):
    write(root / "cfg.json.j2", '{"name": {{ name }}, "tags": {{ tags }}}\n')
    result = z.compose(file_request(root, "cfg.json.j2", vars_input={"name": 'say "hi"', "tags": ["a", 1]}))
    assert result.rendered_text == '{"name": "say \\"hi\\"", "tags": ["a",1]}'


@pytest.mark.parametrize("call", [z.compose, z.compose_file])
def test_failures_raise_the_error_class_of_their_stage(root, call):
    write(root / "missing-var.md.j2", "---\nrequired_variables: [x]\n---\n{{ x }}\n")
    write(root / "bad-include.md.j2", "@<nope.md>\n")
    write(root / "bad-render.md.j2", "{{ a.b.c }}\n")
    cases = [
        ("nope.md.j2", z.ZelkResolveError, "ERR_RESOLVE_NOT_FOUND"),
        ("missing-var.md.j2", z.ZelkValidationError, "ERR_VAL_MISSING_REQUIRED"),
        ("bad-include.md.j2", z.ZelkIncludeError, "ERR_INCLUDE_NOT_FOUND"),
        ("bad-render.md.j2", z.ZelkRenderError, None),
    ]
    for template, error_class, code in cases:
        with pytest.raises(error_class) as info:
            call(file_request(root, template))
        assert info.value.code == code, template
        assert len(info.value.args) == 6 and info.value.recovery_hints == []


def test_wrong_argument_types(root):
    for call in [z.compose, z.compose_file]:
        with pytest.raises(TypeError, match="request"):
            call("not a request")
    with pytest.raises(TypeError, match="parsed"):
        z.render_all("---\n---\n", [])
    with pytest.raises(TypeError):
        z.compose()


def test_render_all_applies_block_defaults_beneath_contexts():
    parsed = z.parse_template_document("---\ndefaults:\n  a: A\n---\n---\npass: 2\n---\n{{ a }}-{{ b }}-{{{ c }}}\n")
    assert z.render_all(parsed, [(1, {"b": "B"}), (2, {"c": "C"})]) == "A-B-C"
    assert z.render_all(parsed, [(1, {"a": "x"}), (2, {})]) == "x--"


def test_render_all_context_errors():
    parsed = z.parse_template_document("---\n---\n---\npass: 2\n---\nbody\n")
    with pytest.raises(z.ZelkConfigError) as info:
        z.render_all(parsed, [(1, {})])
    assert (info.value.message, info.value.code) == ("expected 2 render contexts for 2 passes, got 1",
                                                     "ERR_CONFIG_PARSE")
    with pytest.raises(z.ZelkConfigError) as info:
        z.render_all(parsed, [(2, {}), (1, {})])
    assert info.value.message == "render context pass 2 does not match header pass 1"
    with pytest.raises(z.ZelkValidationError, match="context pass numbers must be integers"):
        z.render_all(parsed, [("1", {}), (2, {})])


def test_docstrings_and_binding():
    assert z.compose.__text_signature__ == "(request)"
    assert z.compose.__doc__ in ("", None)
    assert z.render_all.__text_signature__ == "(parsed, contexts)"
    assert z.render_all.__doc__.startswith("Render a parsed multi-pass template from fully resolved per-pass contexts.")
    assert z.render_all.__doc__.endswith("`compose()` instead.")
    assert z.compose.__self__ is z and z.compose.__module__ == "zelk_compose._native"
    for cls in [z.ComposeResult, z.VerifyResult]:
        assert cls.__module__ == "builtins"
        with pytest.raises(TypeError):
            cls()
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
