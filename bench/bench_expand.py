"""Include expansion throughput: a workspace of 1000 small included files and a 10 MB template.

The peer is a plain-Python expansion of the same directives (read each file once, replace the
directive lines, SHA-256 every file): a floor for "read, split, hash" in the interpreter.
"""

import hashlib
import tempfile
import time
from pathlib import Path

from zelk_compose import _native as zc

FILES = 1000
BIG_BYTES = 10 * 1024 * 1024
ROUNDS = 5


def build(root: Path) -> None:
    parts = root / "parts"
    parts.mkdir(parents=True)
    for i in range(FILES):
        (parts / f"p{i}.md").write_text(f"---\nrequired_variables: [v{i}]\n---\nPart {i}: {{{{ v{i} }}}}\n")
    (root / "many.md").write_text("".join(f"@<parts/p{i}.md>\n" for i in range(FILES)))
    line = "Some prose of a long prompt with a {{ variable }} in it, repeated many times.\n"
    (root / "big.md").write_text(line * (BIG_BYTES // len(line)) + "@<parts/p0.md>\n")


def python_peer(path: Path) -> str:
    cache = {}

    def expand(file: Path) -> str:
        if file not in cache:
            data = file.read_bytes()
            hashlib.sha256(data).digest()
            text = data.decode()
            if text.startswith("---\n"):
                text = text[text.index("\n---\n", 3) + 5 :]
            cache[file] = text
        out = []
        for line in cache[file].splitlines(keepends=True):
            stripped = line.strip()
            if stripped.startswith("@<") and stripped.endswith(">"):
                out.append(expand(file.parent / stripped[2:-1]))
            else:
                out.append(line)
        return "".join(out)

    return expand(path)


def best(fn) -> float:
    times = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> None:
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp).resolve()
        build(root)
        for name in ("many.md", "big.md"):
            ours = best(lambda: zc.expand_includes(name, root))
            peer = best(lambda: python_peer(root / name))
            size = len(zc.expand_includes(name, root).text)
            print(
                f"expand_includes {name:8} {size / 1e6:6.2f} MB out: zelk {ours * 1e3:8.2f} ms, "
                f"python peer {peer * 1e3:8.2f} ms, ratio {peer / ours:5.2f}x"
            )


if __name__ == "__main__":
    main()
