"""resolve_template_path and resolve_profile: results, translated errors and confinement."""

import os
import pathlib
import tempfile

import pytest

import zelk_compose._native as z

AGENT_DIRECTORIES = [".claude/agents", ".agents/agents", ".hermes/agents", ".codex/agents", ".gemini/agents",
                     ".opencode/agents"]


@pytest.fixture
def root(tmp_path):
    workspace = tmp_path / "w"
    workspace.mkdir()
    return workspace.resolve()


def write(path, text="x"):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return path


def request(root, mode, **kwargs):
    return z.ComposeRequest(root, mode, **kwargs)


def resolve_error(call, *args):
    with pytest.raises(z.ZelkResolveError) as info:
        call(*args)
    assert len(info.value.args) == 6 and info.value.recovery_hints == []
    return info.value


def test_file_mode_returns_the_canonical_path(root):
    target = write(root / "docs" / "a.md")
    (root / "alias.md").symlink_to("docs/a.md")
    for candidate in ["docs/a.md", "alias.md", str(target), "docs/../docs/a.md"]:
        result = z.resolve_template_path(request(root, z.ComposeMode.file(candidate)))
        assert result.resolved_path == str(target)
        assert result.attempted_paths == [str(target)]
        assert result.ambiguity_candidates == []


def test_file_mode_errors(root, tmp_path):
    write(tmp_path / "outside.md")
    (root / "out-link.md").symlink_to(tmp_path / "outside.md")
    (root / "dir-link").symlink_to(tmp_path, target_is_directory=True)
    (root / "loop").symlink_to("loop")
    cases = [
        ("../outside.md", "template path escapes configured roots: {}", "ERR_RESOLVE_NOT_FOUND"),
        ("out-link.md", "template path escapes configured roots: {}", "ERR_RESOLVE_NOT_FOUND"),
        ("dir-link/outside.md", "template path escapes configured roots: {}", "ERR_RESOLVE_NOT_FOUND"),
        ("missing.md", "template path not found: {}", "ERR_RESOLVE_NOT_FOUND"),
        ("loop", "template path is a filesystem symlink loop: {}", "ERR_INCLUDE_FILESYSTEM_LOOP"),
    ]
    for candidate, message, code in cases:
        error = resolve_error(z.resolve_template_path, request(root, z.ComposeMode.file(candidate)))
        assert (error.message, error.code) == (message.format(root / candidate), code)


def run_unprivileged(check):
    """Runs `check` without root's permission bypass: as root, in a child that drops to nobody."""
    if os.geteuid() != 0:
        return check()
    pid = os.fork()
    if pid == 0:
        try:
            os.setgid(65534)
            os.setuid(65534)
            code = 0 if check() else 1
        except BaseException:
            code = 2
        os._exit(code)
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status) == 0


def test_file_mode_permission_denied():
    # Under the system temp directory so that an unprivileged child can reach the workspace.
    with tempfile.TemporaryDirectory() as base:
        root = pathlib.Path(base).resolve()
        root.chmod(0o755)
        write(root / "locked" / "a.md")
        (root / "locked").chmod(0)
        req = request(root, z.ComposeMode.file("locked/a.md"))

        def denied():
            with pytest.raises(z.ZelkResolveError) as info:
                z.resolve_template_path(req)
            return (info.value.code, info.value.message) == (
                "ERR_INCLUDE_PERMISSION_DENIED",
                f"permission denied reading template path: {root / 'locked' / 'a.md'}",
            )

        try:
            assert run_unprivileged(denied)
        finally:
            (root / "locked").chmod(0o755)


def test_allowed_roots_extend_confinement(root, tmp_path):
    extra = write(tmp_path / "extra" / "e.md")
    mode = z.ComposeMode.file(str(extra))
    assert resolve_error(z.resolve_template_path, request(root, mode)).code == "ERR_RESOLVE_NOT_FOUND"
    policy = z.ComposePolicy(allowed_roots=[tmp_path / "extra"])
    assert z.resolve_template_path(request(root, mode, policy=policy)).resolved_path == str(extra)


def test_profile_mode_searches_every_runtime(root):
    found = write(root / ".agents" / "agents" / "reviewer.md")
    mode = z.ComposeMode.profile("agent", "reviewer")
    for resolve in (z.resolve_template_path, z.resolve_profile):
        result = resolve(request(root, mode))
        assert result.resolved_path == str(found)
        assert result.attempted_paths == [
            str(root / directory / probe)
            for directory in AGENT_DIRECTORIES
            for probe in ("reviewer.md.j2", "reviewer.md", "reviewer.j2")
        ]


def test_profile_errors(root):
    write(root / ".claude" / "agents" / "reviewer.md.j2")
    write(root / ".codex" / "agents" / "reviewer.md")
    mode = z.ComposeMode.profile("agent", "reviewer")
    error = resolve_error(z.resolve_profile, request(root, mode, runtime="codex"))
    assert error.message == "multiple Agent profiles named `reviewer` matched; specify a runtime"
    assert error.code == "ERR_RESOLVE_AMBIGUOUS"
    claude = z.resolve_profile(request(root, mode, runtime="claude"))
    assert claude.resolved_path == str(root / ".claude" / "agents" / "reviewer.md.j2")
    missing = resolve_error(z.resolve_profile, request(root, z.ComposeMode.profile("skill", "pdf")))
    assert missing.message == "no Skill profile named `pdf` was found"
    assert missing.code == "ERR_RESOLVE_NOT_FOUND"


def test_resolve_profile_requires_profile_mode(root):
    write(root / "a.md")
    with pytest.raises(z.ZelkConfigError) as info:
        z.resolve_profile(request(root, z.ComposeMode.file("a.md")))
    assert (info.value.message, info.value.code) == ("resolve_profile requires profile mode", "ERR_CONFIG_MODE")


def test_arguments_and_result_class(root):
    for resolve in (z.resolve_template_path, z.resolve_profile):
        with pytest.raises(TypeError):
            resolve(z.ComposeMode.file("a.md"))
        assert resolve.__self__ is z
        assert resolve.__text_signature__ == "(request)"
    write(root / "a.md")
    result = z.resolve_template_path(request=request(root, z.ComposeMode.file("a.md")))
    assert result.attempted_paths is not result.attempted_paths
    with pytest.raises(TypeError):
        type(result)()
    with pytest.raises(AttributeError):
        result.resolved_path = "x"


def test_functions_register_after_validate():
    names = list(vars(z))
    positions = [names.index(name) for name in ["validate", "resolve_template_path", "resolve_profile",
                                                 "render_template"]]
    assert positions == sorted(positions)
