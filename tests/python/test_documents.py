"""Template documents: parse_template_document, discover_all_pass_tokens and their classes."""

import inspect

import pytest

import zelk_compose._native as z

TWO_PASSES = (
    "---\n"
    "required_variables: [name]\n"
    "variables: {title: {required: true}}\n"
    "defaults: {a: 1}\n"
    "input_defaults: {a: 2, list: [x, {k: ~}]}\n"
    "metadata: {owner: team, tagged: !tag {n: 1}, nested: {3: three, 0.5: half}}\n"
    "json_escape_mode: auto\n"
    "---\n"
    "---\n"
    "pass: 2\n"
    "---\n"
    "Hello {{ name }} {{ title }} {{{ later }}}"
)


def test_documents_without_frontmatter():
    parsed = z.parse_template_document("\ufeffHello {{ b }} {{ a }} {{ b }}")
    assert parsed.body == "Hello {{ b }} {{ a }} {{ b }}"
    assert parsed.passes == []
    assert parsed.frontmatter is None
    assert z.discover_all_pass_tokens(parsed) == {}


def test_stacked_frontmatter_passes():
    parsed = z.parse_template_document(TWO_PASSES)
    assert parsed.body == "Hello {{ name }} {{ title }} {{{ later }}}"
    first, second = parsed.passes
    assert [p.pass_number for p in parsed.passes] == [1, 2]
    assert [str(n) for n in first.required_variables] == ["name", "title"]
    assert all(type(n) is z.VariableName for n in first.required_variables)
    assert first.defaults == {"a": 2, "list": ["x", {"k": None}]}
    assert first.metadata == {"nested": {"0.5": "half", "3": "three"}, "owner": "team", "tagged": {"!tag": {"n": 1}}}
    assert list(first.metadata) == ["nested", "owner", "tagged"]
    assert second.required_variables == [] and second.defaults == {} and second.metadata == {}

    (warning,) = first.diagnostics
    assert (warning.severity, warning.code) == ("warning", "WARN_VAL_CONFLICTING_DEFAULT_SECTIONS")
    assert warning.message == (
        "frontmatter contains both `defaults` and `input_defaults`; `input_defaults` overrides overlapping keys"
    )
    assert (warning.path, warning.line, warning.column, warning.include_chain) == (None, None, None, [])

    # Every read builds new objects.
    assert parsed.frontmatter is not parsed.frontmatter
    assert parsed.frontmatter.defaults == first.defaults
    first.defaults["a"] = 99
    assert parsed.passes[0].defaults["a"] == 2

    tokens = z.discover_all_pass_tokens(parsed)
    assert list(tokens) == [1, 2]
    assert [str(n) for n in tokens[1]] == ["name", "title"]
    assert [str(n) for n in tokens[2]] == ["later"]
    assert all(type(n) is z.VariableName for n in tokens[2])


def test_a_rule_after_the_frontmatter_is_body_text():
    parsed = z.parse_template_document("---\nrequired_variables: [a]\n---\n---\nUnder a rule {{ a }}\n")
    assert len(parsed.passes) == 1
    assert parsed.body == "---\nUnder a rule {{ a }}\n"


@pytest.mark.parametrize(
    ("text", "error", "code", "message"),
    [
        ("---", z.ZelkConfigError, "ERR_CONFIG_PARSE",
         "frontmatter block started with `---` but no closing delimiter was found"),
        ("---\na: 1\n", z.ZelkConfigError, "ERR_CONFIG_PARSE",
         "frontmatter block started with `---` but no closing delimiter was found"),
        ("---\na: [\n---\n", z.ZelkConfigError, "ERR_CONFIG_PARSE", "failed to parse YAML frontmatter"),
        ("---\npass: 256\n---\n", z.ZelkConfigError, "ERR_CONFIG_PARSE", "failed to parse YAML frontmatter"),
        ("---\nrequired_variables: [a b]\n---\n", z.ZelkConfigError, "ERR_CONFIG_PARSE",
         "invalid frontmatter variable name: invalid variable name `a b`"),
        ("---\nrequired_variables: [x]\nvariables: {x: {required: true}}\n---\n", z.ZelkValidationError,
         "ERR_VAL_DUPLICATE", "duplicate frontmatter variable declaration: x"),
        ("---\ndefaults: {bad name: 1}\n---\n", z.ZelkConfigError, "ERR_CONFIG_PARSE",
         "invalid frontmatter default variable name: invalid variable name `bad name`"),
        ("---\ndefaults: {a: .nan}\n---\n", z.ZelkValidationError, "ERR_VAL_OBJECT_SHAPE",
         "expected a JSON-compatible number"),
        ("---\npass: 2\n---\n---\npass: 2\n---\n", z.ZelkValidationError, "ERR_CONFIG_PARSE",
         "duplicate explicit pass number in stacked frontmatter: 2"),
    ],
)
def test_parse_failures_carry_message_and_code_only(text, error, code, message):
    with pytest.raises(error) as caught:
        z.parse_template_document(text)
    assert type(caught.value) is error
    assert (caught.value.message, caught.value.code) == (message, code)
    assert caught.value.recovery_hints == []
    assert len(caught.value.args) == 6


def test_metadata_that_cannot_become_an_input_value_fails_on_read():
    parsed = z.parse_template_document("---\nmetadata: {m: {[1, 2]: x}}\n---\n")
    with pytest.raises(z.ZelkConfigError) as caught:
        parsed.frontmatter.metadata
    assert caught.value.code == "ERR_CONFIG_PARSE"


def test_arguments_are_checked():
    with pytest.raises(TypeError, match="input"):
        z.parse_template_document(b"---\n---\n")
    with pytest.raises(TypeError, match="parsed"):
        z.discover_all_pass_tokens("text")
    assert inspect.signature(z.parse_template_document) == inspect.Signature(
        [inspect.Parameter("input", inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    )
    assert z.discover_all_pass_tokens.__text_signature__ == "(parsed)"
    assert z.parse_template_document.__self__ is z


@pytest.mark.parametrize("cls", [z.ParsedTemplate, z.Frontmatter, z.Diagnostic])
def test_result_classes_are_read_only_and_closed(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert cls.__module__ == "builtins"


def test_instances_have_no_attributes_of_their_own():
    parsed = z.parse_template_document("---\n---\n")
    for obj in (parsed, parsed.frontmatter, z.PassConfig(1)):
        with pytest.raises(AttributeError):
            obj.extra = 1
    with pytest.raises(AttributeError):
        parsed.body = "x"


def test_pass_config_construction():
    config = z.PassConfig(2, ["a", z.VariableName("b")], {"d": 1}, None)
    assert config.pass_number == 2
    assert [str(n) for n in config.required_variables] == ["a", "b"]
    assert config.defaults == {"d": 1}
    assert config.metadata == {}
    assert repr(config) == 'PassConfig(pass_number=2, required_variables=["a", "b"], defaults=1, metadata=0)'
    assert repr(z.PassConfig(pass_number=0)) == "PassConfig(pass_number=1, required_variables=[], defaults=0, metadata=0)"
    assert z.PassConfig(1, ["x", "x"]).required_variables[1] is not None
    assert z.PassConfig.__text_signature__ == "(pass_number, required_variables=None, defaults=None, metadata=None)"
    assert z.PassConfig(1) != z.PassConfig(1)


@pytest.mark.parametrize(
    ("args", "error"),
    [
        ((256,), OverflowError),
        ((-1,), OverflowError),
        (("1",), TypeError),
        ((1.0,), TypeError),
        ((), TypeError),
        ((1, None, None, None, None), TypeError),
    ],
)
def test_pass_config_rejects_bad_pass_numbers(args, error):
    with pytest.raises(error):
        z.PassConfig(*args)


def test_pass_config_checks_run_in_order():
    # The names are checked before the defaults, the defaults before the metadata.
    with pytest.raises(z.ZelkValidationError, match="required_variables entries"):
        z.PassConfig(1, [1], defaults=[], metadata=[])
    with pytest.raises(z.ZelkValidationError, match="variable maps"):
        z.PassConfig(1, defaults=[], metadata=[])
    with pytest.raises(z.ZelkValidationError, match="metadata must be"):
        z.PassConfig(1, metadata=[])
