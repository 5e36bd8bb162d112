"""Python-level cost of render_template (compile and render) on a typical prompt template.

The peers are called the same way from Python: minijinja's `render_str` and jinja2's
`from_string(...).render`, each on an environment with trim_blocks and lstrip_blocks, so every
call compiles the template anew and renders it once. The outputs must agree before timing.
"""

import time

import jinja2
import minijinja

from zelk_compose import _native as zc

ROUNDS = 7
CALLS = 300

PARAGRAPH = (
    "You are a careful engineering assistant working inside a large repository. Read the task, "
    "inspect the relevant files before changing anything, keep every change small and reviewable, "
    "and explain what you did and why in plain language. Never invent APIs or file paths; when "
    "something is unclear, say so and ask for the missing detail instead of guessing.\n"
)

TEMPLATE = (
    "# {{ agent_name }}\n\n"
    + PARAGRAPH * 4
    + "\n## Tools\n\n"
    "{% for tool in tools %}\n"
    "### {{ loop.index }}. {{ tool.name }}\n"
    "{{ tool.description }}\n"
    "{% if tool.args %}\n"
    "Arguments:\n"
    "{% for arg in tool.args %}\n"
    "- `{{ arg.name }}` ({{ arg.type }}){% if arg.required %} required{% endif %}: {{ arg.help }}\n"
    "{% endfor %}\n"
    "{% else %}\n"
    "This tool takes no arguments.\n"
    "{% endif %}\n"
    "{% endfor %}\n\n"
    "## Rules\n\n"
    + PARAGRAPH * 3
    + "{% if strict %}\n"
    "Strict mode is on: refuse any request outside {{ scope | default('the repository') }}.\n"
    "{% else %}\n"
    "Strict mode is off.\n"
    "{% endif %}\n"
    "{% for rule in rules %}\n"
    "{{ loop.index }}. {{ rule | trim }}\n"
    "{% endfor %}\n\n"
    "Working directory: {{ workspace.root }} (user {{ workspace.user | upper }}).\n"
    + PARAGRAPH * 2
)

CONTEXT = {
    "agent_name": "Repository helper",
    "strict": True,
    "scope": "the monorepo",
    "rules": [f"  Rule number {i}: keep the build green and the tests meaningful.  " for i in range(8)],
    "workspace": {"root": "/srv/work", "user": "dev"},
    "tools": [
        {
            "name": f"tool_{i}",
            "description": f"Does task {i} on the files of the workspace and reports what changed.",
            "args": [
                {"name": f"arg{j}", "type": "string", "required": j % 2 == 0, "help": f"the {j}th input"}
                for j in range(i % 4)
            ],
        }
        for i in range(12)
    ],
}


def best_per_call(fn) -> float:
    times = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        for _ in range(CALLS):
            fn()
        times.append((time.perf_counter() - start) / CALLS)
    return min(times)


def main() -> None:
    mini = minijinja.Environment(trim_blocks=True, lstrip_blocks=True)
    j2 = jinja2.Environment(trim_blocks=True, lstrip_blocks=True)

    ours = zc.render_template(TEMPLATE, CONTEXT)
    expected_mini = mini.render_str(TEMPLATE, **CONTEXT)
    expected_j2 = j2.from_string(TEMPLATE).render(CONTEXT)
    if not ours == expected_mini == expected_j2:
        raise SystemExit("bench_render: the engines disagree on the benchmark template")

    timings = {
        "zelk_compose": best_per_call(lambda: zc.render_template(TEMPLATE, CONTEXT)),
        "minijinja": best_per_call(lambda: mini.render_str(TEMPLATE, **CONTEXT)),
        "jinja2": best_per_call(lambda: j2.from_string(TEMPLATE).render(CONTEXT)),
    }
    print(f"render_template, compile and render of a {len(TEMPLATE)}-byte prompt template ({len(ours)} bytes out)")
    for name, seconds in timings.items():
        print(f"  {name:<13} {seconds * 1e6:9.1f} us/call")
    ratio_mini = timings["minijinja"] / timings["zelk_compose"]
    ratio_j2 = timings["jinja2"] / timings["zelk_compose"]
    print(f"  speed-up vs minijinja: {ratio_mini:.2f}x (target >= 2x)")
    print(f"  speed-up vs jinja2:    {ratio_j2:.2f}x")


if __name__ == "__main__":
    main()
