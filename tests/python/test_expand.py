"""expand_includes and ExpandedTemplate: expansion results, the composition hash and its errors."""

import hashlib
import os
import shutil
import struct

import pytest

from zelk_compose import _native as zc

SCHEMA = b"zelk-sha/manifest/v1"


def file_hash(data: bytes) -> bytes:
    return hashlib.sha256(data.replace(b"\r\n", b"\n").replace(b"\r", b"\n")).digest()


def text(value: str) -> bytes:
    raw = value.encode()
    return struct.pack(">Q", len(raw)) + raw


def manifest_hash(nodes, edges) -> str:
    """nodes: [(source, file bytes)], edges: [(from, to, occurrence)], all of kind 0."""
    out = text(SCHEMA.decode()) + struct.pack(">B", 1) + struct.pack(">Q", len(nodes))
    for source, data in nodes:
        out += struct.pack(">B", 0) + text(source) + struct.pack(">Q", 32) + file_hash(data)
    out += struct.pack(">Q", len(edges))
    for source, target, occurrence in edges:
        out += struct.pack(">B", 0) + text(source) + struct.pack(">B", 0) + text(target)
        out += struct.pack(">I", occurrence)
    return hashlib.sha256(out).hexdigest()


def write(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data.encode() if isinstance(data, str) else data)


@pytest.fixture
def ws(tmp_path):
    root = tmp_path / "ws"
    files = {
        "main.md.j2": "---\nrequired_variables: [name]\n---\nHello {{ name }}\r\n@<parts/b.md>\n@<parts/b.md>\n@<c.md>",
        "parts/b.md": "---\ndefaults: {x: 1}\n---\n---\ndefaults: {y: 2}\n---\nB\r\n",
        "c.md": "C\n",
    }
    for name, data in files.items():
        write(root / name, data)
    return root


def test_golden_hash_and_attributes(ws):
    expanded = zc.expand_includes("main.md.j2", ws)

    assert expanded.text == "Hello {{ name }}\r\nB\r\nB\r\nC\n"
    root = str(ws.resolve())
    paths = [f"{root}/main.md.j2", f"{root}/parts/b.md", f"{root}/c.md"]
    assert expanded.resolved_files == paths

    nodes = [(name, (ws / name).read_bytes()) for name in ("main.md.j2", "parts/b.md", "c.md")]
    edges = [("main.md.j2", "parts/b.md", 0), ("main.md.j2", "parts/b.md", 1), ("main.md.j2", "c.md", 2)]
    assert expanded.composition_sha256 == manifest_hash(nodes, edges)

    # frontmatters: outermost block or None; frontmatter_passes: every block.
    assert [path for path, _ in expanded.frontmatters] == paths
    assert isinstance(expanded.frontmatters[0][1], zc.Frontmatter)
    assert expanded.frontmatters[2] == (paths[2], None)
    passes = expanded.frontmatter_passes
    assert [len(blocks) for _, blocks in passes] == [1, 2, 0]
    assert all(isinstance(block, zc.Frontmatter) for block in passes[1][1])

    assert expanded.include_chains == {
        paths[0]: [paths[0]],
        paths[2]: [paths[0], paths[2]],
        paths[1]: [paths[0], paths[1]],
    }
    assert list(expanded.include_chains) == sorted(expanded.include_chains)
    assert expanded.resolved_files is not expanded.resolved_files


def test_hash_survives_relocation_and_line_endings_but_not_renames(ws, tmp_path):
    original = zc.expand_includes("main.md.j2", ws).composition_sha256

    moved = tmp_path / "elsewhere" / "copy"
    shutil.copytree(ws, moved)
    assert zc.expand_includes("main.md.j2", moved).composition_sha256 == original

    lf = (moved / "parts/b.md").read_bytes().replace(b"\r\n", b"\n")
    write(moved / "parts/b.md", lf)
    assert zc.expand_includes("main.md.j2", moved).composition_sha256 == original

    (moved / "c.md").rename(moved / "d.md")
    write(moved / "main.md.j2", (moved / "main.md.j2").read_text().replace("@<c.md>", "@<d.md>"))
    assert zc.expand_includes("main.md.j2", moved).composition_sha256 != original


def test_allowed_roots_are_named_by_index(tmp_path):
    root, lib0, lib1 = tmp_path / "ws", tmp_path / "lib0", tmp_path / "lib1"
    write(lib0 / "unused.md", "")
    footer = lib1 / "shared" / "footer.md"
    write(footer, "footer\n")
    write(root / "a.md", f"@<{footer}>\n")
    policy = zc.ComposePolicy(allowed_roots=[lib0, zc.ConfiningRoot(lib1)])
    expanded = zc.expand_includes(root / "a.md", root, policy)
    assert expanded.text == "footer\n"
    assert expanded.composition_sha256 == manifest_hash(
        [("a.md", (root / "a.md").read_bytes()), ("allowed-root-1/shared/footer.md", b"footer\n")],
        [("a.md", "allowed-root-1/shared/footer.md", 0)],
    )
    with pytest.raises(zc.ZelkIncludeError) as caught:
        zc.expand_includes(root / "a.md", root)
    assert caught.value.code == "ERR_INCLUDE_ESCAPE"


def test_root_given_through_a_symlink_is_canonicalised(ws, tmp_path):
    link = tmp_path / "link"
    link.symlink_to(ws, target_is_directory=True)
    expanded = zc.expand_includes("main.md.j2", link)
    assert expanded.resolved_files[0] == f"{ws.resolve()}/main.md.j2"


@pytest.mark.parametrize(
    "body, code, message",
    [
        ("@<../outside.md>\n", "ERR_INCLUDE_ESCAPE", "include path escapes confinement root: {root}/../outside.md"),
        ("@<link.md>\n", "ERR_INCLUDE_ESCAPE", "include path escapes confinement root: {root}/link.md"),
        ("@<a.md>\n", "ERR_INCLUDE_CYCLE", "include cycle detected at {root}/a.md"),
        ("@<missing.md>\n", "ERR_INCLUDE_NOT_FOUND", "include file not found: {root}/missing.md"),
        ("@<dir>\n", "ERR_INCLUDE_IS_A_DIRECTORY", "include target is a directory, not a file: {root}/dir"),
        ("@<{{ name }}>\n", "ERR_INCLUDE_DYNAMIC_UNRESOLVED",
         "include target is dynamic or malformed; enumerate a static @<path> candidate"),
    ],
)
def test_include_errors_are_translated(tmp_path, body, code, message):
    root = tmp_path / "ws"
    write(tmp_path / "outside.md", "secret")
    write(root / "a.md", body)
    (root / "dir").mkdir()
    (root / "link.md").symlink_to(tmp_path / "outside.md")
    with pytest.raises(zc.ZelkIncludeError) as caught:
        zc.expand_includes("a.md", root)
    assert caught.value.code == code
    assert caught.value.message == message.format(root=root.resolve())


def test_depth_limit_and_cap(tmp_path):
    root = tmp_path / "ws"
    for i in range(130):
        write(root / f"f{i}.md", f"@<f{i + 1}.md>\n")
    write(root / "f130.md", "leaf\n")
    with pytest.raises(zc.ZelkIncludeError) as caught:
        zc.expand_includes("f0.md", root, zc.ComposePolicy(max_include_depth=500))
    assert caught.value.message == "include depth exceeded maximum of 128"
    with pytest.raises(zc.ZelkIncludeError) as caught:
        zc.expand_includes("f0.md", root, zc.ComposePolicy(max_include_depth=0))
    assert (caught.value.code, caught.value.message) == ("ERR_INCLUDE_DEPTH", "include depth exceeded maximum of 0")
    assert zc.expand_includes("f128.md", root, zc.ComposePolicy(max_include_depth=2)).text == "leaf\n"


def test_argument_checks_come_in_order(ws, tmp_path):
    with pytest.raises(TypeError, match="policy"):
        zc.expand_includes(object(), ws, policy="strict")
    with pytest.raises(TypeError):
        zc.expand_includes(b"main.md.j2", ws)
    with pytest.raises(TypeError):
        zc.expand_includes("main.md.j2", 42)
    # The root is checked before any template is read.
    with pytest.raises(zc.ZelkConfigError) as caught:
        zc.expand_includes("missing.md", tmp_path / "no-such-root")
    assert caught.value.code == "ERR_CONFIG_PARSE"
    assert caught.value.message == "No such file or directory (os error 2)"
    assert zc.expand_includes(os.fspath(ws / "main.md.j2"), str(ws), None).text.startswith("Hello")


def test_class_surface():
    cls = zc.ExpandedTemplate
    assert cls.frontmatters.__doc__ == (
        "Return the legacy single-frontmatter view for each expanded file.\n\n"
        "This preserves the pre-multi-pass Python shape by returning only the\n"
        "outermost frontmatter block for each file. Use `frontmatter_passes`\n"
        "when callers need the full stacked-header data."
    )
    assert cls.frontmatter_passes.__doc__ == "Return every parsed frontmatter block for each expanded file."
    assert cls.text.__doc__ is None
    assert zc.expand_includes.__text_signature__ == "(template_path, root, policy=None)"
    with pytest.raises(TypeError):
        cls()
