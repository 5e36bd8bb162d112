"""Composition of every profile of the example workspace: zelk against a plain-Python pipeline.

The peer does the same work the way a Python program usually would: probe the runtime
directories for the profile, split the frontmatter blocks and read them with PyYAML, expand the
@<path> include lines recursively, SHA-256 every file and the manifest with hashlib, merge the
defaults under the given variables, check the required ones, and render each pass with jinja2
(trim_blocks, lstrip_blocks, one more brace per pass, JSON values for JSON templates), then strip
the trailing white space. Its jinja2 environments are built once, as a module-level environment
would be; templates are compiled on every call, as ours are. Both run in this process, one
after the other, timed in CPU time (the machine may be shared), and the ratio is printed per profile.
"""

import hashlib
import json
import re
import sys
import time
from pathlib import Path

import jinja2
import yaml

from zelk_compose import _native as z

WORKSPACE = Path(__file__).resolve().parent.parent / "examples" / "workspace"
ROUNDS = 7
TARGET_SECONDS = 0.05

RUNTIME_DIRS = {
    "claude": [".claude/{kind}s", ".agents/{kind}s"],
    "hermes": [".hermes/{kind}s", ".agents/{kind}s", ".claude/{kind}s"],
    "codex": [".codex/{kind}s", ".agents/{kind}s", ".claude/{kind}s"],
    "gemini": [".gemini/{kind}s", ".agents/{kind}s", ".claude/{kind}s"],
    "opencode": [".opencode/{kind}s", ".agents/{kind}s", ".claude/{kind}s"],
}
BLOCK = re.compile(r"---[ \t]*\r?\n(.*?)^(?:---|\.\.\.)\r?\n", re.S | re.M)
_ENVIRONMENTS = {}


def environment(passes: int, is_json: bool) -> jinja2.Environment:
    key = (passes, is_json)
    if key not in _ENVIRONMENTS:
        braces = passes + 1
        _ENVIRONMENTS[key] = jinja2.Environment(
            trim_blocks=True,
            lstrip_blocks=True,
            variable_start_string="{" * braces,
            variable_end_string="}" * braces,
            finalize=(lambda v: json.dumps(v, separators=(",", ":"), ensure_ascii=False)) if is_json else None,
        )
    return _ENVIRONMENTS[key]


def split_frontmatter(text: str) -> tuple[list[dict], str]:
    blocks, position = [], 0
    while True:
        match = BLOCK.match(text, position)
        if not match:
            return blocks, text[position:]
        blocks.append(yaml.safe_load(match.group(1)) or {})
        position = match.end()


def python_compose(root: Path, kind: str, name: str, runtime: str, variables: dict) -> tuple[str, str]:
    probes = [f"{name}/SKILL.md.j2", f"{name}/SKILL.md"] if kind == "skill" else [f"{name}.md.j2", f"{name}.j2"]
    template = next(
        root / directory.format(kind=kind) / probe
        for directory in RUNTIME_DIRS[runtime]
        for probe in probes
        if (root / directory.format(kind=kind) / probe).is_file()
    )
    files, manifest, root_blocks = [], hashlib.sha256(), []

    def expand(path: Path) -> str:
        data = path.read_bytes()
        manifest.update(str(path.relative_to(root)).encode() + hashlib.sha256(data).digest())
        blocks, body = split_frontmatter(data.decode("utf-8"))
        files.append((path, blocks))
        if not root_blocks and path == template:
            root_blocks.extend(blocks)
        out = []
        for line in body.splitlines(keepends=True):
            stripped = line.strip()
            if stripped.startswith("@<") and stripped.endswith(">"):
                target = path.parent / stripped[2:-1]
                out.append(expand(target if target.is_file() else root / stripped[2:-1]))
            else:
                out.append(line)
        return "".join(out)

    text = expand(template)
    values = {}
    for _, blocks in files:
        for block in blocks:
            for key, value in (block.get("defaults") or {}).items():
                values.setdefault(key, value)
    values.update(variables)
    for _, blocks in files:
        for block in blocks:
            for required in block.get("required_variables") or []:
                if required not in values:
                    raise KeyError(required)
    is_json = template.name.removesuffix(".j2").endswith(".json")
    passes = [block.get("pass") or 1 for block in root_blocks] if len(root_blocks) > 1 else [1]
    for number in passes:
        opening, closing = "{" * (number + 2), "}" * (number + 2)
        text = re.sub(re.escape(opening) + ".*?" + re.escape(closing),
                      lambda m: "{% raw %}" + m.group(0) + "{% endraw %}", text, flags=re.S)
        text = environment(number, is_json).from_string(text).render(values)
    return text.rstrip(), manifest.hexdigest()


def per_call(fn) -> float:
    calls = 1
    while True:
        start = time.process_time()
        for _ in range(calls):
            fn()
        if time.process_time() - start >= TARGET_SECONDS:
            break
        calls *= 2
    best = float("inf")
    for _ in range(ROUNDS):
        start = time.process_time()
        for _ in range(calls):
            fn()
        best = min(best, (time.process_time() - start) / calls)
    return best


def main() -> int:
    profiles = z.input_value_from_yaml((WORKSPACE / "profiles.yaml").read_text(encoding="utf-8"))["profiles"]
    root = WORKSPACE.resolve()
    worst = float("inf")
    print(f"{'profile':28} {'bytes':>6} {'zelk':>10} {'python':>10} {'ratio':>7}")
    for profile in profiles:
        kind, name, runtime, variables = profile["kind"], profile["name"], profile["runtime"], profile["vars"]
        request = z.ComposeRequest(root, z.ComposeMode.profile(kind, name), vars_input=variables, runtime=runtime)
        ours_text = z.compose(request).rendered_text
        peer_text, _ = python_compose(root, kind, name, runtime, variables)
        ours = per_call(lambda: z.compose(request))
        peer = per_call(lambda: python_compose(root, kind, name, runtime, variables))
        worst = min(worst, peer / ours)
        label = f"{kind}:{name} ({runtime})"
        note = "" if ours_text == peer_text else "  (outputs differ)"
        print(f"{label:28} {len(ours_text):6} {ours * 1e6:8.1f}us {peer * 1e6:8.1f}us {peer / ours:6.1f}x{note}")
    print(f"slowest ratio {worst:.1f}x (target: at least 20x faster per composition)")
    print_stages(root, profiles[0])
    return 0


def print_stages(root: Path, profile: dict) -> None:
    """Where the time of one composition goes: each stage includes the ones before it."""
    request = z.ComposeRequest(root, z.ComposeMode.profile(profile["kind"], profile["name"]),
                               vars_input=profile["vars"], runtime=profile["runtime"])
    template = z.resolve_profile(request).resolved_path
    stages = [
        ("resolve_profile", lambda: z.resolve_profile(request)),
        ("expand_includes", lambda: z.expand_includes(template, root)),
        ("validate (resolve, expand, check)", lambda: z.validate(request)),
        ("compose (all of it, rendering too)", lambda: z.compose(request)),
    ]
    print(f"stages of {profile['kind']}:{profile['name']}:")
    for label, fn in stages:
        print(f"  {label:36} {per_call(fn) * 1e6:8.1f}us")


if __name__ == "__main__":
    sys.exit(main())
