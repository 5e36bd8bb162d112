"""Request and policy classes: constructors and their order of checks, attributes and repr texts."""

import os
import pathlib

import pytest

import zelk_compose._native as z

DEFAULT_POLICY_REPR = (
    "ComposePolicy(strict_undeclared_variables=False, unknown_variable_policy='ignore', "
    "unbound_variable_policy=None, max_include_depth=32, allowed_roots=[], "
    "resolver_policy=ResolverPolicy(candidate_directories=0, filename_probes=0, "
    "ambiguous_without_runtime_is_error=false), passes=0, json_escape_mode=None)"
)


@pytest.fixture
def workspace(tmp_path):
    root = tmp_path / "w"
    (root / "docs").mkdir(parents=True)
    (root / "docs" / "a.md").write_text("hello")
    return root


class TestComposeMode:
    def test_file_mode_keeps_the_path_text(self):
        mode = z.ComposeMode.file("../x/./a.md")
        assert (mode.template_path, mode.kind, mode.name) == ("../x/./a.md", None, None)
        assert z.ComposeMode.file(pathlib.PurePosixPath("a/b.md")).template_path == "a/b.md"

    def test_profile_mode(self):
        mode = z.ComposeMode.profile("skill", z.ProfileName("pdf"))
        assert (mode.kind, mode.name, mode.template_path) == ("skill", "pdf", None)

    @pytest.mark.parametrize(
        "mode, text",
        [
            (lambda: z.ComposeMode.file('say "hi"\t.md'), r'ComposeMode.file("say \"hi\"\t.md")'),
            (lambda: z.ComposeMode.file("it's\u200b.md"), 'ComposeMode.file("it\'s\\u{200b}.md")'),
            (lambda: z.ComposeMode.profile("agent", "o'neil"), r"ComposeMode.profile(kind='agent', name='o\'neil')"),
        ],
    )
    def test_repr_quoting(self, mode, text):
        assert repr(mode()) == text

    def test_profile_checks_kind_then_name(self):
        with pytest.raises(z.ZelkConfigError) as info:
            z.ComposeMode.profile("Skill", "a/b")
        assert info.value.message == "unknown profile kind: Skill"
        with pytest.raises(z.ZelkConfigError) as info:
            z.ComposeMode.profile("skill", "a/b")
        assert (info.value.message, info.value.code) == ("invalid profile name `a/b`", "ERR_CONFIG_MODE")
        with pytest.raises(TypeError):
            z.ComposeMode.profile("skill", 3)

    @pytest.mark.parametrize("bad", [b"a.md", 3, None])
    def test_file_refuses_non_text_paths(self, bad):
        with pytest.raises(TypeError):
            z.ComposeMode.file(bad)

    def test_has_no_constructor(self):
        with pytest.raises(TypeError):
            z.ComposeMode()


class TestComposePolicy:
    def test_defaults(self):
        policy = z.ComposePolicy()
        assert repr(policy) == DEFAULT_POLICY_REPR
        assert policy.strict_undeclared_variables is False
        assert policy.unknown_variable_policy == "ignore"
        assert policy.unbound_variable_policy is None
        assert policy.max_include_depth == 32
        assert policy.allowed_roots == [] and policy.passes == []
        assert policy.json_escape_mode is None
        assert repr(policy.resolver_policy) == (
            "ResolverPolicy(candidate_directories=0, filename_probes=0, ambiguous_without_runtime_is_error=false)"
        )

    def test_given_values_are_stored_and_shown(self, tmp_path):
        link = tmp_path / "link"
        link.symlink_to(tmp_path / "real", target_is_directory=True)
        (tmp_path / "real").mkdir()
        (tmp_path / 'q"uote').mkdir()
        policy = z.ComposePolicy(
            strict_undeclared_variables=True,
            unknown_variable_policy="warn",
            unbound_variable_policy="error",
            max_include_depth=65535,
            allowed_roots=[z.ConfiningRoot(tmp_path / 'q"uote'), link],
            json_escape_mode="legacy",
        )
        roots = [str(tmp_path.resolve() / 'q"uote'), str((tmp_path / "real").resolve())]
        assert policy.allowed_roots == roots
        shown = ", ".join('"' + root.replace('"', '\\"') + '"' for root in roots)
        assert repr(policy) == (
            "ComposePolicy(strict_undeclared_variables=True, unknown_variable_policy='warn', "
            "unbound_variable_policy='error', max_include_depth=65535, "
            f"allowed_roots=[{shown}], resolver_policy=ResolverPolicy(candidate_directories=0, "
            "filename_probes=0, ambiguous_without_runtime_is_error=false), passes=0, json_escape_mode=legacy)"
        )

    @pytest.mark.parametrize(
        "kwargs, error",
        [
            ({"strict_undeclared_variables": 1}, TypeError),
            ({"unknown_variable_policy": None}, TypeError),
            ({"unbound_variable_policy": 1}, TypeError),
            ({"max_include_depth": 65536}, OverflowError),
            ({"max_include_depth": -1}, OverflowError),
            ({"max_include_depth": "3"}, TypeError),
            ({"json_escape_mode": 1}, TypeError),
            ({"allowed_roots": 5}, TypeError),
            ({"unknown_variable_policy": "IGNORE"}, z.ZelkConfigError),
            # Argument types are all checked before any text is parsed.
            ({"unknown_variable_policy": "bad", "json_escape_mode": 1}, TypeError),
        ],
    )
    def test_bad_arguments(self, kwargs, error):
        with pytest.raises(error):
            z.ComposePolicy(**kwargs)

    def test_passes_are_copied_and_counted(self):
        policy = z.ComposePolicy(passes=[z.PassConfig(1), z.PassConfig(2, required_variables=["a"])])
        assert [p.pass_number for p in policy.passes] == [1, 2]
        assert policy.passes[0] is not policy.passes[0]
        assert "passes=2," in repr(policy)
        with pytest.raises(z.ZelkValidationError) as info:
            z.ComposePolicy(passes=[1])
        assert info.value.message == "passes entries must be PassConfig instances"

    def test_texts_are_parsed_before_roots(self):
        with pytest.raises(z.ZelkConfigError) as info:
            z.ComposePolicy(unknown_variable_policy="bad", allowed_roots=["/does/not/exist"])
        assert info.value.code == "ERR_CONFIG_MODE"

    def test_missing_allowed_root_reports_the_os_error(self, tmp_path):
        with pytest.raises(z.ZelkConfigError) as info:
            z.ComposePolicy(allowed_roots=[tmp_path / "missing"])
        assert info.value.code == "ERR_CONFIG_PARSE"
        assert info.value.message == "No such file or directory (os error 2)"

    def test_resolver_policy_has_no_constructor(self):
        with pytest.raises(TypeError):
            type(z.ComposePolicy().resolver_policy)()


class TestConfiningRoot:
    def test_stores_the_canonical_root(self, tmp_path, workspace):
        link = tmp_path / "w-link"
        link.symlink_to(workspace, target_is_directory=True)
        root = z.ConfiningRoot(link)
        assert str(root) == str(workspace.resolve())
        assert root.confine("docs/a.md") == str(workspace.resolve() / "docs" / "a.md")
        assert root.confine(link / "docs" / "a.md") == str(workspace.resolve() / "docs" / "a.md")

    @pytest.mark.parametrize(
        "candidate, message",
        [
            ("../outside.md", "template path escapes configured roots: {root}/../outside.md"),
            ("docs/missing.md", "template path not found: {root}/docs/missing.md"),
        ],
    )
    def test_confine_failures_are_resolve_errors(self, tmp_path, workspace, candidate, message):
        (tmp_path / "outside.md").write_text("x")
        root = z.ConfiningRoot(workspace)
        with pytest.raises(z.ZelkResolveError) as info:
            root.confine(candidate)
        assert info.value.message == message.format(root=workspace.resolve())
        assert info.value.code == "ERR_RESOLVE_NOT_FOUND"

    def test_missing_root(self, tmp_path):
        with pytest.raises(z.ZelkConfigError) as info:
            z.ConfiningRoot(tmp_path / "missing")
        assert info.value.code == "ERR_CONFIG_PARSE"
        with pytest.raises(TypeError):
            z.ConfiningRoot(b"/tmp")


class TestComposeRequest:
    def test_root_is_canonical_and_defaults_apply(self, workspace, monkeypatch):
        monkeypatch.chdir(workspace.parent)
        request = z.ComposeRequest("w", z.ComposeMode.file("docs/a.md"))
        assert request.root == str(workspace.resolve())
        assert os.path.isabs(request.root)
        assert request.runtime is None
        assert repr(request.policy) == repr(z.ComposePolicy()) == DEFAULT_POLICY_REPR
        assert request.mode.template_path == "docs/a.md"
        assert request.mode is not request.mode

    def test_repr(self, workspace):
        request = z.ComposeRequest(
            workspace,
            z.ComposeMode.profile("agent", "reviewer"),
            vars_input={"a": 1, "b": [1]},
            vars_env={"c": "x"},
            guidance_block="be brief",
            runtime="codex",
            policy=z.ComposePolicy(max_include_depth=4),
        )
        assert repr(request) == (
            f'ComposeRequest(root="{workspace.resolve()}", '
            "mode=ComposeMode.profile(kind='agent', name='reviewer'), runtime='codex', "
            "vars_input=2, vars_env=1, vars_defaults=0, guidance_block=True, user_prompt=False, "
            f"policy={DEFAULT_POLICY_REPR.replace('max_include_depth=32', 'max_include_depth=4')})"
        )
        assert request.runtime == "codex"
        assert request.policy.max_include_depth == 4

    @pytest.mark.parametrize(
        "kwargs, error, code",
        [
            ({"mode": "docs/a.md"}, TypeError, None),
            ({"policy": {}}, TypeError, None),
            ({"guidance_block": 1}, TypeError, None),
            ({"user_prompt": b"x"}, TypeError, None),
            ({"root": 3}, TypeError, None),
            ({"runtime": "CODEX"}, z.ZelkConfigError, "ERR_CONFIG_MODE"),
            ({"root": "/does/not/exist"}, z.ZelkConfigError, "ERR_CONFIG_PARSE"),
            ({"vars_input": []}, z.ZelkValidationError, None),
            ({"vars_defaults": {"bad name": 1}}, z.ZelkValidationError, None),
            # Checks run in order: binding, root text, runtime, root on disk, then the maps.
            ({"root": 3, "runtime": "bad"}, TypeError, None),
            ({"root": "/does/not/exist", "runtime": "bad"}, z.ZelkConfigError, "ERR_CONFIG_MODE"),
            ({"root": "/does/not/exist", "vars_input": []}, z.ZelkConfigError, "ERR_CONFIG_PARSE"),
        ],
    )
    def test_bad_arguments(self, workspace, kwargs, error, code):
        arguments = {"root": workspace, "mode": z.ComposeMode.file("docs/a.md"), **kwargs}
        with pytest.raises(error) as info:
            z.ComposeRequest(**arguments)
        if code is not None:
            assert info.value.code == code

    def test_variable_map_message(self, workspace):
        with pytest.raises(z.ZelkValidationError) as info:
            z.ComposeRequest(workspace, z.ComposeMode.file("a.md"), vars_env=[("a", 1)])
        assert info.value.message == "variable maps must be Python dict instances"

    def test_required_arguments(self, workspace):
        with pytest.raises(TypeError):
            z.ComposeRequest(workspace)


@pytest.mark.parametrize(
    "make",
    [
        lambda root: z.ComposeMode.file("a.md"),
        lambda root: z.ComposePolicy(),
        lambda root: z.ConfiningRoot(root),
        lambda root: z.ComposeRequest(root, z.ComposeMode.file("a.md")),
        lambda root: z.ComposePolicy().resolver_policy,
    ],
)
def test_instances_are_sealed(workspace, make):
    instance = make(workspace)
    with pytest.raises(AttributeError):
        instance.extra = 1
    with pytest.raises(TypeError):
        type("Sub", (type(instance),), {})
    assert type(instance).__module__ == "builtins"


@pytest.mark.parametrize(
    "target, signature",
    [
        (z.ComposeMode.file, "(template_path)"),
        (z.ComposeMode.profile, "(kind, name)"),
        (
            z.ComposePolicy,
            '(strict_undeclared_variables=False, unknown_variable_policy="ignore", unbound_variable_policy=None, '
            "max_include_depth=32, allowed_roots=None, passes=None, json_escape_mode=None)",
        ),
        (z.ConfiningRoot, "(path)"),
        (z.ConfiningRoot.confine, "($self, candidate)"),
        (
            z.ComposeRequest,
            "(root, mode, vars_input=None, vars_env=None, vars_defaults=None, guidance_block=None, "
            "user_prompt=None, policy=None, runtime=None)",
        ),
    ],
)
def test_text_signatures(target, signature):
    assert target.__text_signature__ == signature


def test_keyword_arguments_bind_by_name(workspace):
    request = z.ComposeRequest(mode=z.ComposeMode.file(template_path="docs/a.md"), root=workspace, runtime="hermes")
    assert request.runtime == "hermes"
    assert z.ConfiningRoot(path=workspace).confine(candidate="docs/a.md").endswith("a.md")
    assert z.ComposeMode.profile(name="x", kind="command").kind == "command"


def test_classes_register_in_their_module_order():
    names = list(vars(z))
    expected = ["ProfileName", "ConfiningRoot", "ResolverPolicy", "ComposeMode", "ComposePolicy", "PassConfig",
                "ComposeRequest", "Diagnostic", "ResolveResult"]
    positions = [names.index(name) for name in expected]
    assert positions == sorted(positions)
