"""validate and ValidationReport: findings from Python, translated errors, and the built-in variables."""

import datetime
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
    path.write_text(text)
    return path


def file_request(root, template, **kwargs):
    return z.ComposeRequest(root, z.ComposeMode.file(template), **kwargs)


def rows(diagnostics):
    return [(d.severity, d.code, d.message, d.path, d.line, d.column, d.include_chain) for d in diagnostics]


def test_report_lists_findings_by_severity(root):
    main = write(root / "prompts" / "main.md",
                 "---\ntitle: review\nrequired_variables:\n  - user.name\ndefaults:\n  tone: calm\n---\n"
                 "Hi {{ user.name }}, be {{ tone }}.\n@<part.md>\n")
    part = write(root / "prompts" / "part.md", "Also {{ stray }}\n")
    policy = z.ComposePolicy(unknown_variable_policy="warn", strict_undeclared_variables=True)
    report = z.validate(file_request(root, "prompts/main.md", vars_input={"user": {"id": 7}, "extra": 1},
                                     policy=policy))
    assert report.ok is False
    assert rows(report.errors) == [
        ("error", "ERR_VAL_MISSING_NESTED_FIELD", "missing required nested field: user.name", str(main), 4, 5,
         [str(main)]),
        ("error", "ERR_VAL_UNDECLARED_TOKEN", "undeclared referenced token: stray", str(main), None, None, []),
    ]
    assert rows(report.warnings) == [
        ("warning", "ERR_VAL_MISSING_FRONTMATTER",
         f"included file has no frontmatter; run `zelk-compose frontmatter-init {part}`", str(part), None, None, []),
        ("info", "INFO_VAL_DEFAULT_USED", "variable tone not provided, using default: \"calm\"", str(main), None,
         None, []),
        ("warning", "ERR_VAL_EXTRA_INPUT", "extra provided variable: extra", str(main), None, None, []),
        ("warning", "ERR_VAL_UNBOUND_VARIABLE", "unbound variable: stray", str(main), None, None, []),
        ("warning", "ERR_VAL_UNBOUND_VARIABLE", "unbound variable: user.name", str(main), None, None, []),
    ]
    assert report.resolve_result.resolved_path == str(main)
    assert report.resolve_result.attempted_paths == [str(main)]


def test_clean_template_is_ok_and_report_is_read_only(root):
    write(root / "a.md", "---\nrequired_variables: [name]\n---\nHello {{ name }}\n")
    report = z.validate(request=file_request(root, "a.md", vars_input={"name": "Ada"}))
    assert (report.ok, report.errors, report.warnings) == (True, [], [])
    assert report.errors is not report.errors
    with pytest.raises(AttributeError):
        report.ok = False
    with pytest.raises(TypeError):
        z.ValidationReport()
    assert type(report).__module__ == "builtins"


def test_failures_of_resolution_and_expansion_raise(root):
    with pytest.raises(z.ZelkResolveError) as resolve:
        z.validate(file_request(root, "missing.md"))
    assert resolve.value.code == "ERR_RESOLVE_NOT_FOUND"
    write(root / "inc.md", "---\ntitle: x\n---\n@<nowhere.md>\n")
    with pytest.raises(z.ZelkIncludeError) as include:
        z.validate(file_request(root, "inc.md"))
    assert include.value.code == "ERR_INCLUDE_NOT_FOUND"
    write(root / "outer.md", "---\ntitle: x\n---\n@<broken.md>\n")
    write(root / "broken.md", "---\n: [\n---\nx\n")
    with pytest.raises(z.ZelkConfigError):
        z.validate(file_request(root, "outer.md"))


def test_arguments_and_signature():
    with pytest.raises(TypeError, match="request"):
        z.validate("not a request")
    with pytest.raises(TypeError):
        z.validate()
    assert z.validate.__text_signature__ == "(request)"
    assert z.validate.__self__ is z


TIMESTAMP = re.compile(r"^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:\.(\d{0,8}[1-9]))?Z$")


def test_builtins_render_from_the_environment_and_the_utc_clock(root, monkeypatch):
    monkeypatch.setenv("HOSTNAME", "py-host")
    monkeypatch.setenv("USER", "py-user")
    write(root / "stamp.md.j2", "{{ TEMPLATE_NAME }}|{{ HOSTNAME }}|{{ USERNAME }}|{{ RENDER_DATE }}|"
                                "{{ RENDER_TIMESTAMP }}")
    before = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    result = z.compose(file_request(root, "stamp.md.j2"))
    after = datetime.datetime.now(datetime.timezone.utc)
    name, host, user, date, stamp = result.rendered_text.split("|")
    assert (name, host, user) == ("stamp.md.j2", "py-host", "py-user")
    match = TIMESTAMP.match(stamp)
    assert match, stamp
    moment = datetime.datetime(*map(int, match.groups()[:6]), tzinfo=datetime.timezone.utc)
    assert before <= moment <= after
    assert date == stamp[:10]
    assert result.variable_sources["RENDER_DATE"] == "builtin"
    # A caller's value wins over the built-in.
    overridden = z.compose(file_request(root, "stamp.md.j2", vars_input={"HOSTNAME": "mine"}))
    assert overridden.rendered_text.split("|")[1] == "mine"
    assert overridden.variable_sources["HOSTNAME"] == "explicit_input"
