"""The main job end to end: compose every profile of a workspace, then verify a deployed copy.

For each profile listed in the workspace's profiles.yaml, the demo composes it, prints the text
with its composition hash, files, variable sources and warnings; then it deploys the results to
a scratch directory, edits one deployed file the way a hand edit would, and verifies both: the
untouched one is clean, the edited one shows its unified diff. Before that it lists the variable
tokens of every template, pass by pass.

Usage: python examples/demo.py [WORKSPACE]
"""

import pathlib
import sys
import tempfile

import zelk_compose._native as z

SUFFIXES = (".j2", ".jinja2", ".jinja")


def frontmatter_block_count(text: str) -> int:
    """Counts the leading "---" blocks; each configures one rendering pass."""
    lines = text.splitlines()
    count, i = 0, 0
    while i < len(lines) and lines[i].strip() == "---":
        end = next((j for j in range(i + 1, len(lines)) if lines[j].strip() == "---"), None)
        if end is None:
            break
        count, i = count + 1, end + 1
    return count


def list_tokens(root: pathlib.Path, templates: list[pathlib.Path]) -> None:
    print(f"built-in variables: {', '.join(z.BUILTIN_VARIABLE_NAMES)}")
    for path in templates:
        text = path.read_text(encoding="utf-8")
        print(z.to_forward_slash(path.relative_to(root)))
        for pass_number in range(1, max(1, frontmatter_block_count(text)) + 1):
            tokens = z.discover_tokens_with_brace_count(text, pass_number + 1)
            print(f"  pass {pass_number}: {', '.join(str(t) for t in tokens) or '(none)'}")


def profile_request(root: pathlib.Path, profile: dict) -> z.ComposeRequest:
    return z.ComposeRequest(root, z.ComposeMode.profile(profile["kind"], profile["name"]),
                            vars_input=profile.get("vars"), runtime=profile.get("runtime"))


def show_composition(root: pathlib.Path, profile: dict, result: z.ComposeResult) -> None:
    def relative(path: str) -> str:
        return z.to_forward_slash(pathlib.Path(path).relative_to(root))

    print(f"=== {profile['kind']} {profile['name']} ({profile.get('runtime', 'any runtime')})")
    print(f"template:  {relative(result.resolve_result.resolved_path)}")
    print(f"files:     {', '.join(relative(f) for f in result.resolved_files)}")
    print(f"sha256:    {result.composition_sha256}")
    sources = ", ".join(f"{name}={source}" for name, source in result.variable_sources.items())
    print(f"variables: {sources}")
    for warning in result.warnings:
        print(f"warning:   {warning.code}: {warning.message}")
    print("---")
    print(result.rendered_text)
    print()


def verify_deployed(root: pathlib.Path, profiles: list[dict], rendered: dict[str, str]) -> int:
    """Deploys every composition, edits the first deployed file and verifies two of them."""
    with tempfile.TemporaryDirectory(prefix="zelk-demo-") as scratch:
        deployed_root = pathlib.Path(scratch)
        for profile in profiles:
            target = deployed_root / profile["deployed"]
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_text(rendered[profile["name"]] + "\n", encoding="utf-8")
        edited, untouched = profiles[0], profiles[1]
        edited_path = deployed_root / edited["deployed"]
        text = edited_path.read_text(encoding="utf-8")
        edited_path.write_text(text.replace("short and actionable", "short, kind and actionable", 1)
                               .replace("## How to answer", "## How to answer (edited by hand)", 1),
                               encoding="utf-8")
        print("=== verification of the deployed copies")
        status = 0
        for profile in (untouched, edited):
            path = deployed_root / profile["deployed"]
            check = z.verify(profile_request(root, profile), path)
            print(f"{profile['deployed']}: {'clean' if check.clean else 'drifted'}")
            if check.diff is not None:
                print(check.diff.replace(str(deployed_root) + "/", "").replace(str(root) + "/", ""), end="")
            status |= 0 if (check.clean == (profile is untouched)) else 1
        return status


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "examples/workspace").resolve()
    templates = sorted(p for p in root.rglob("*") if p.is_file() and p.name.endswith(SUFFIXES))
    if not templates:
        print(f"no templates under {root}", file=sys.stderr)
        return 1
    list_tokens(root, templates)
    print()

    profiles = z.input_value_from_yaml((root / "profiles.yaml").read_text(encoding="utf-8"))["profiles"]
    rendered = {}
    for profile in profiles:
        try:
            result = z.compose(profile_request(root, profile))
        except z.ZelkComposeError as error:
            print(f"=== {profile['kind']} {profile['name']}: {type(error).__name__} {error.code}: {error.message}")
            return 1
        show_composition(root, profile, result)
        rendered[profile["name"]] = result.rendered_text
    return verify_deployed(root, profiles, rendered)


if __name__ == "__main__":
    sys.exit(main())
