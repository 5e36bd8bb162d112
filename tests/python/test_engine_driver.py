"""The engine driver `zelk-jinja render`: options, named templates, exit codes and output bytes.

Also provides `render_ours`, the way the engine tests run our engine.
"""

from __future__ import annotations

import json
import os
import subprocess
import tempfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def _find_driver() -> Path | None:
    explicit = os.environ.get("ZELK_JINJA")
    if explicit:
        return Path(explicit)
    candidates = []
    for entry in os.environ.get("PYTHONPATH", "").split(os.pathsep):
        if entry:
            candidates.append(Path(entry).resolve().parent / "bin" / "zelk-jinja")
    candidates.append(ROOT / "build" / "bin" / "zelk-jinja")
    return next((c for c in candidates if c.is_file()), None)


DRIVER = _find_driver()
needs_driver = pytest.mark.skipif(DRIVER is None, reason="zelk-jinja is not built")


def run_driver(
    source: str | bytes,
    context: object = None,
    *,
    options: tuple[str, ...] = (),
    templates: dict[str, str] | None = None,
    name: str | None = None,
) -> subprocess.CompletedProcess[bytes]:
    """Runs `zelk-jinja render` on a template source in a scratch directory."""
    assert DRIVER is not None
    with tempfile.TemporaryDirectory() as tmp:
        main = Path(tmp) / "main.j2"
        main.write_bytes(source.encode() if isinstance(source, str) else source)
        args = [str(DRIVER), "render", str(main), *options]
        if context is not None:
            ctx = Path(tmp) / "context.json"
            ctx.write_text(json.dumps(context))
            args += ["--context", str(ctx)]
        if templates is not None:
            tdir = Path(tmp) / "templates"
            tdir.mkdir()
            for tname, text in templates.items():
                (tdir / tname).write_bytes(text.encode())
            args += ["--template-dir", str(tdir)]
        if name is not None:
            args += ["--name", name]
        return subprocess.run(args, capture_output=True, timeout=60)


def render_ours(source: str, context: object = None, **kwargs: object) -> tuple[str, str]:
    """("ok", text) or ("err", error display) from our engine."""
    proc = run_driver(source, context, **kwargs)  # type: ignore[arg-type]
    if proc.returncode == 0:
        return "ok", proc.stdout.decode()
    assert proc.returncode == 1, proc.stderr.decode()
    return "err", proc.stderr.decode().strip()


@needs_driver
def test_renders_exact_bytes_with_context_and_defaults() -> None:
    proc = run_driver("a\r\n{{ x }}\r\n", {"x": [1, "é"]})
    assert proc.returncode == 0
    # line breaks kept as written, one trailing line break dropped, nothing added
    assert proc.stdout == "a\r\n[1, 'é']".encode()
    assert proc.stderr == b""


@needs_driver
@pytest.mark.parametrize(
    ("options", "expected"),
    [
        ((), "<\n  \nx\n  \n>\n"),
        (("--trim-blocks",), "<\n  x\n  >\n"),
        (("--trim-blocks", "--lstrip-blocks"), "<\nx\n>\n"),
        (("--keep-trailing-newline",), "<\n  \nx\n  \n>\n\n"),
    ],
)
def test_whitespace_options(options: tuple[str, ...], expected: str) -> None:
    proc = run_driver("<\n  {% if 1 %}\nx\n  {% endif %}\n>\n\n", options=options)
    assert proc.stdout.decode() == expected


@needs_driver
@pytest.mark.parametrize(
    ("mode", "expected"),
    [("none", "<a> None"), ("html", "&lt;a&gt; None"), ("json", '"<a>" null')],
)
def test_auto_escape_modes(mode: str, expected: str) -> None:
    proc = run_driver("{{ s }} {{ n }}", {"s": "<a>", "n": None}, options=("--auto-escape", mode))
    assert proc.stdout.decode() == expected


@needs_driver
def test_template_dir_registers_every_file_and_main_wins_a_clash() -> None:
    templates = {
        "base.j2": "[{% block b %}base{% endblock %}]",
        "macros.j2": "{% macro hi(n) %}hi {{ n }}{% endmacro %}",
        "part.j2": "({{ who }})",
        "main.j2": "shadowed",
    }
    src = "{% extends 'base.j2' %}{% block b %}{% import 'macros.j2' as m %}{{ m.hi(1) }}{% include 'part.j2' %}{% endblock %}"
    proc = run_driver(src, {"who": "w"}, templates=templates, name="main.j2")
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == b"[hi 1(w)]"


@needs_driver
def test_template_error_exits_1_with_display_on_stderr() -> None:
    proc = run_driver("ok\n{{ x.y }}", name="page.j2")
    assert proc.returncode == 1
    assert proc.stdout == b""
    assert proc.stderr.decode() == "undefined value (in page.j2:2)\n"
    proc = run_driver("{% if %}")
    assert proc.returncode == 1
    assert proc.stderr.decode().startswith("syntax error: ")
    assert proc.stderr.decode().endswith("(in inline:1)\n")


@needs_driver
@pytest.mark.parametrize(
    "args",
    [[], ["render"], ["bogus", "x"], ["render", "main.j2", "--auto-escape", "xml"], ["render", "main.j2", "--nope"]],
)
def test_usage_errors_exit_2(args: list[str], tmp_path: Path) -> None:
    (tmp_path / "main.j2").write_text("x")
    proc = subprocess.run([str(DRIVER), *args], capture_output=True, cwd=tmp_path, timeout=60)
    assert proc.returncode == 2
    assert b"usage: zelk-jinja render" in proc.stderr


@needs_driver
def test_context_must_be_a_json_object(tmp_path: Path) -> None:
    (tmp_path / "main.j2").write_text("x")
    (tmp_path / "c.json").write_text("[1, 2]")
    proc = subprocess.run(
        [str(DRIVER), "render", "main.j2", "--context", "c.json"], capture_output=True, cwd=tmp_path, timeout=60
    )
    assert proc.returncode == 2
    assert b"JSON object" in proc.stderr

