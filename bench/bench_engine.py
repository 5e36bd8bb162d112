"""Engine benchmark: our engine against minijinja and Jinja2 on the same corpus, in one run.

Times compile-and-render and render of a compiled template for every template of
bench/corpus (best of several runs) and prints the ratios. Our engine is timed in-process by
the C++ program zelk-jinja-bench; our output is checked to equal Jinja2's.
Targets: compile-and-render >= 2x minijinja and >= 20x Jinja2; render >= 1x minijinja.
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import timeit
from pathlib import Path

import jinja2
import minijinja

ROOT = Path(__file__).resolve().parents[1]
CORPUS = ROOT / "bench" / "corpus"
RUNS = 5


def find_bench_binary() -> Path:
    explicit = os.environ.get("ZELK_JINJA_BENCH")
    candidates = [Path(explicit)] if explicit else []
    for entry in os.environ.get("PYTHONPATH", "").split(os.pathsep):
        if entry:
            candidates.append(Path(entry).resolve().parent / "bin" / "zelk-jinja-bench")
    candidates.append(ROOT / "build" / "bin" / "zelk-jinja-bench")
    for c in candidates:
        if c.is_file():
            return c
    sys.exit("bench_engine: zelk-jinja-bench is not built (make build)")


def best_us(fn) -> float:
    timer = timeit.Timer(fn)
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=RUNS, number=number)) / number * 1e6


def main() -> None:
    sources = {p.name: p.read_text() for p in sorted(CORPUS.glob("*.j2"))}
    context = json.loads((CORPUS / "context.json").read_text())
    mains = [n for n in sources if not n.startswith("_")]

    proc = subprocess.run([str(find_bench_binary()), str(CORPUS), str(RUNS)], capture_output=True, text=True)
    if proc.returncode != 0:
        sys.exit(f"bench_engine: zelk-jinja-bench failed: {proc.stderr.strip()}")
    ours = {row["name"]: row for row in json.loads(proc.stdout)}

    j2 = jinja2.Environment(loader=jinja2.DictLoader(sources), trim_blocks=True, lstrip_blocks=True)
    mj = minijinja.Environment(templates=sources)
    mj.trim_blocks = True
    mj.lstrip_blocks = True

    header = f"{'template':<20} {'phase':<15} {'ours us':>9} {'minijinja':>10} {'jinja2':>9} {'x mini':>7} {'x jinja2':>9}"
    print("engine benchmark (best of %d runs, microseconds per render)" % RUNS)
    print(header)
    print("-" * len(header))
    totals = {"compile": [0.0, 0.0, 0.0], "render": [0.0, 0.0, 0.0]}
    notes: list[str] = []
    for name in mains:
        source = sources[name]
        expected = j2.get_template(name).render(**context)
        if ours[name]["output"] != expected:
            sys.exit(f"bench_engine: our output differs from jinja2 for {name}")
        if mj.render_template(name, **context) != expected:
            notes.append(f"note: minijinja renders {name} differently from jinja2 (e.g. tojson key order)")
        compiled = j2.get_template(name)
        rows = {
            "compile": (
                ours[name]["compile_render_us"],
                best_us(lambda: mj.render_str(source, name=name, **context)),
                best_us(lambda: j2.from_string(source).render(**context)),
            ),
            "render": (
                ours[name]["render_us"],
                best_us(lambda: mj.render_template(name, **context)),
                best_us(lambda: compiled.render(**context)),
            ),
        }
        for phase, (o, m, j) in rows.items():
            label = "compile+render" if phase == "compile" else "render"
            print(f"{name:<20} {label:<15} {o:>9.1f} {m:>10.1f} {j:>9.1f} {m / o:>7.2f} {j / o:>9.2f}")
            for i, v in enumerate((o, m, j)):
                totals[phase][i] += v
    print("-" * len(header))
    for phase, (o, m, j) in totals.items():
        label = "compile+render" if phase == "compile" else "render"
        print(f"{'TOTAL':<20} {label:<15} {o:>9.1f} {m:>10.1f} {j:>9.1f} {m / o:>7.2f} {j / o:>9.2f}")
    print("targets: compile+render >= 2x minijinja and >= 20x jinja2; render >= 1x minijinja")
    for note in notes:
        print(note)


if __name__ == "__main__":
    main()
