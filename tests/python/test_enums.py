"""Constant classes: members, order and immutability, and how callers' strings are parsed."""

import pytest

import zelk_compose._native as z

CONSTANT_CLASSES = {
    "RuntimeKind": [
        ("CLAUDE", "claude"),
        ("HERMES", "hermes"),
        ("CODEX", "codex"),
        ("GEMINI", "gemini"),
        ("OPENCODE", "opencode"),
    ],
    "ProfileKind": [("AGENT", "agent"), ("COMMAND", "command"), ("SKILL", "skill")],
    "UnknownVariablePolicy": [("ERROR", "error"), ("WARN", "warn"), ("IGNORE", "ignore")],
    "JsonEscapeMode": [("AUTO", "auto"), ("LEGACY", "legacy")],
    "VariableSource": [
        ("EXPLICIT_INPUT", "explicit_input"),
        ("ENVIRONMENT", "environment"),
        ("BUILTIN", "builtin"),
        ("TEMPLATE_INPUT_DEFAULT", "template_input_default"),
        ("FRONTMATTER_DEFAULT", "frontmatter_default"),
        ("INCLUDED_DEFAULT", "included_default"),
    ],
    "DiagnosticSeverity": [("ERROR", "error"), ("WARNING", "warning"), ("INFO", "info")],
}

PYTHON_DIAGNOSTIC_CODES = """
ERR_RESOLVE_NOT_FOUND ERR_RESOLVE_AMBIGUOUS ERR_INCLUDE_ESCAPE ERR_INCLUDE_NOT_FOUND ERR_INCLUDE_CYCLE
ERR_INCLUDE_DEPTH ERR_VAL_OBJECT_SHAPE ERR_VAL_NESTED_ARRAY_UNSUPPORTED ERR_VAL_DUPLICATE
WARN_VAL_CONFLICTING_DEFAULT_SECTIONS WARN_LINT_REDUNDANT_FILTER_CHAIN ERR_VAL_EMPTY ERR_VAL_MISSING_FRONTMATTER
ERR_VAL_MISSING_REQUIRED ERR_VAL_MISSING_NESTED_FIELD ERR_VAL_SHAPE_MISMATCH ERR_VAL_UNDECLARED_TOKEN
ERR_VAL_EXTRA_INPUT ERR_VAL_UNBOUND_VARIABLE INFO_VAL_DEFAULT_USED ERR_RENDER_STDIN_DOUBLE_READ ERR_RENDER_WRITE
ERR_CONFIG_READONLY ERR_CONFIG_MODE ERR_CONFIG_PARSE ERR_CONFIG_VARFILE ERR_CONFIG_PACK_NOT_FOUND
ERR_CONFIG_PACK_NOT_RENDERABLE ERR_CONFIG_TEMPLATE_EXISTS ERR_EXTRACT_INVALID_REQUEST ERR_EXTRACT_MALFORMED
ERR_EXTRACT_UNSUPPORTED ERR_EXTRACT_TEMPLATE_UNSUPPORTED ERR_EXTRACT_XML_ELEMENT_MISMATCH
ERR_EXTRACT_XML_ATTRIBUTE_MISMATCH ERR_EXTRACT_XML_CHILD_STRUCTURE_MISMATCH ERR_EXTRACT_XML_STATIC_MISMATCH
ERR_EXTRACT_XML_CONTROL_FLOW_UNSUPPORTED ERR_EXTRACT_XML_DYNAMIC_ELEMENT_NAME ERR_EXTRACT_XML_NAMESPACE_UNSUPPORTED
ERR_EXTRACT_AMBIGUOUS ERR_EXTRACT_FORMAT_UNSUPPORTED ERR_EXTRACT_JSON_MALFORMED ERR_EXTRACT_JSON_DUPLICATE_KEY
ERR_EXTRACT_JSON_PATH_MISSING ERR_EXTRACT_JSON_SHAPE_MISMATCH ERR_EXTRACT_JSON_VALUE_UNSUPPORTED
ERR_EXTRACT_JSON_AMBIGUOUS ERR_EXTRACT_YAML_MALFORMED ERR_EXTRACT_YAML_DUPLICATE_KEY
ERR_EXTRACT_YAML_ALIAS_UNSUPPORTED ERR_EXTRACT_YAML_DOCUMENT_STREAM ERR_EXTRACT_YAML_PATH_MISSING
ERR_EXTRACT_YAML_SHAPE_MISMATCH ERR_EXTRACT_YAML_VALUE_UNSUPPORTED ERR_EXTRACT_YAML_AMBIGUOUS
ERR_EXTRACT_TOML_MALFORMED ERR_EXTRACT_INPUT_LIMIT ERR_EXTRACT_TOML_DUPLICATE_KEY ERR_EXTRACT_TOML_PATH_MISSING
ERR_EXTRACT_TOML_SHAPE_MISMATCH ERR_EXTRACT_TOML_VALUE_UNSUPPORTED ERR_EXTRACT_TOML_AMBIGUOUS
ERR_JSON_ESCAPE_MODE_NON_JSON ERR_JSON_LEGACY_NON_STRING ERR_JSON_MODE_CONTRACT ERR_JSON_MODE_INCLUDE_CONFLICT
WARN_JSON_LEGACY_ESCAPE_MODE WARN_JSON_QUOTED_PLACEHOLDER WARN_EXTRACT_NOT_OBSERVED WARN_EXTRACT_LOW_CONFIDENCE
WARN_EXTRACT_DIRTY_PREFIX_STRIPPED
""".split()

CODES_WITHOUT_MEMBER = [
    "ERR_INCLUDE_PERMISSION_DENIED",
    "ERR_INCLUDE_IS_A_DIRECTORY",
    "ERR_INCLUDE_FILESYSTEM_LOOP",
    "ERR_INCLUDE_DYNAMIC_UNRESOLVED",
    "WARN_CONFIG_SINGLE_PASS_ALL_FALLBACK",
    "ERR_VAL_ARRAY_SHAPE_MISMATCH",
    "ERR_RENDER_JSON_MALFORMED",
    "ERR_CONFIG_READ",
    "ERR_CONFIG_HELP_TOPIC_NOT_FOUND",
]

ALL_CLASSES = {**CONSTANT_CLASSES, "DiagnosticCode": [(code, code) for code in PYTHON_DIAGNOSTIC_CODES]}


def members(cls):
    return [(name, value) for name, value in vars(cls).items() if not name.startswith("__")]


@pytest.mark.parametrize("name", ALL_CLASSES)
def test_members_are_str_constants_in_class_order(name):
    cls = getattr(z, name)
    assert members(cls) == ALL_CLASSES[name]
    assert all(type(value) is str for _, value in members(cls))
    assert cls.__doc__ is None
    assert cls.__module__ == "builtins" and cls.__qualname__ == name


@pytest.mark.parametrize("name", ALL_CLASSES)
def test_classes_cannot_be_called_changed_or_subclassed(name):
    cls = getattr(z, name)
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        setattr(cls, members(cls)[0][0], "other")
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_members_behave_as_plain_strings():
    assert z.RuntimeKind.OPENCODE == "opencode"
    assert z.DiagnosticCode.ERR_VAL_EMPTY == "ERR_VAL_EMPTY"
    assert z.DiagnosticSeverity.ERROR == z.UnknownVariablePolicy.ERROR == "error"
    assert {z.ProfileKind.SKILL: 1}["skill"] == 1
    assert f"{z.JsonEscapeMode.LEGACY}" == "legacy"


def test_codes_without_member_are_absent():
    assert len(PYTHON_DIAGNOSTIC_CODES) == 72
    for code in CODES_WITHOUT_MEMBER:
        assert not hasattr(z.DiagnosticCode, code)


def test_constant_classes_register_between_exceptions_and_records():
    names = list(vars(z))
    order = [names.index(name) for name in ["ZelkConfigError", *ALL_CLASSES, "VariableName"]]
    assert order == sorted(order)


PARSE_FAILURES = [
    # (what is built, expected message)
    (lambda: z.ComposeMode.profile("Skill", "pdf"), "unknown profile kind: Skill"),
    (lambda: z.ComposeMode.profile(" agent", "pdf"), "unknown profile kind:  agent"),
    (lambda: z.ComposePolicy(unknown_variable_policy="IGNORE"), "unknown unknown-variable policy: IGNORE"),
    (lambda: z.ComposePolicy(unbound_variable_policy="warn "), "unknown unknown-variable policy: warn "),
    (lambda: z.ComposePolicy(json_escape_mode="json"), "unknown JSON escape mode: json"),
]


@pytest.mark.parametrize("build, message", PARSE_FAILURES)
def test_unknown_texts_are_config_errors(build, message):
    with pytest.raises(z.ZelkConfigError) as info:
        build()
    assert info.value.message == message
    assert info.value.code == "ERR_CONFIG_MODE"
    assert info.value.recovery_hints == []


def test_unknown_runtime_names_the_text_unchanged(tmp_path):
    with pytest.raises(z.ZelkConfigError) as info:
        z.ComposeRequest(tmp_path, z.ComposeMode.file("a.md"), runtime="Claude")
    assert (info.value.message, info.value.code) == ("unknown runtime kind: Claude", "ERR_CONFIG_MODE")


def test_members_and_literals_parse_alike(tmp_path):
    assert z.ComposeMode.profile(z.ProfileKind.SKILL, "pdf").kind == "skill"
    assert z.ComposeMode.profile("skill", "pdf").kind == "skill"
    request = z.ComposeRequest(tmp_path, z.ComposeMode.file("a.md"), runtime=z.RuntimeKind.GEMINI)
    assert request.runtime == "gemini"


def test_non_str_kinds_are_type_errors(tmp_path):
    with pytest.raises(TypeError):
        z.ComposeMode.profile(1, "pdf")
    with pytest.raises(TypeError):
        z.ComposeRequest(tmp_path, z.ComposeMode.file("a.md"), runtime=1)
