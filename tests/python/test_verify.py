"""verify: clean and drifted deployed files, the diff, the representation and the failures."""

import pytest

import zelk_compose._native as z


@pytest.fixture
def root(tmp_path):
    workspace = tmp_path / "w"
    (workspace / "agents").mkdir(parents=True)
    (workspace / "agents" / "a.md.j2").write_text("---\nrequired_variables: [name]\n---\nHello {{ name }}\nBye\n")
    return workspace.resolve()


def request(root, template="agents/a.md.j2"):
    return z.ComposeRequest(root, z.ComposeMode.file(template), vars_input={"name": "Ada"})


def test_clean_deployed_file(root, tmp_path):
    deployed = tmp_path / "deployed.md"
    deployed.write_bytes(b"Hello Ada\r\nBye\r\n")
    result = z.verify(request(root), deployed)
    assert result.clean is True and result.diff is None
    assert result.deployed_text == "Hello Ada\r\nBye\r\n"
    assert result.rendered_text == "Hello Ada\nBye"
    assert result.resolved_template_path == str(root / "agents" / "a.md.j2")
    assert result.deployed_path == str(deployed)
    assert repr(result) == (f'VerifyResult(clean=True, resolved_template_path="{root / "agents" / "a.md.j2"}", '
                            f'deployed_path="{deployed}", diff=False)')


def test_drifted_deployed_file_gets_a_unified_diff(root, tmp_path):
    deployed = tmp_path / "deployed.md"
    deployed.write_text("Hello Bob\nBye\n")
    result = z.verify(request(root), str(deployed))
    assert result.clean is False
    template = root / "agents" / "a.md.j2"
    assert result.diff == (f"--- {deployed}\n+++ rendered({template})\n@@ -1,2 +1,2 @@\n"
                           "-Hello Bob\n+Hello Ada\n Bye\n\\ No newline at end of file\n")
    assert repr(result).endswith("diff=True)")


def test_deployed_path_is_kept_as_given(root, tmp_path, monkeypatch):
    (tmp_path / "deployed.md").write_text("Hello Ada\nBye\n")
    monkeypatch.chdir(tmp_path)
    result = z.verify(request(root), "./deployed.md")
    assert result.deployed_path == "./deployed.md" and result.clean


def test_deployed_file_failures(root, tmp_path):
    (tmp_path / "bad.md").write_bytes(b"\xff\xfe")
    (tmp_path / "dir").mkdir()
    cases = [
        (tmp_path / "missing.md", "deployed file not found: {}", "ERR_RESOLVE_NOT_FOUND"),
        (tmp_path / "bad.md", "deployed file is not valid UTF-8 text: {}", "ERR_CONFIG_READ"),
        (tmp_path / "dir", "failed to read deployed file: {}", "ERR_CONFIG_PARSE"),
    ]
    for path, message, code in cases:
        with pytest.raises(z.ZelkConfigError) as info:
            z.verify(request(root), path)
        assert (info.value.message, info.value.code) == (message.format(path), code)
        # Only message and code cross the boundary.
        assert info.value.recovery_hints == []


def test_composition_failure_comes_before_the_deployed_file(root, tmp_path):
    with pytest.raises(z.ZelkResolveError) as info:
        z.verify(request(root, "nope.md.j2"), tmp_path / "missing.md")
    assert info.value.code == "ERR_RESOLVE_NOT_FOUND"


def test_bad_arguments(root):
    with pytest.raises(TypeError, match="request"):
        z.verify(object(), "x")
    with pytest.raises(TypeError):
        z.verify(request(root), b"deployed.md")
    with pytest.raises(TypeError):
        z.verify(request(root), 3)
    assert z.verify.__text_signature__ == "(request, deployed_path)"
