"""Repeated calls must not leak references or memory."""

import gc
import pathlib
import sys

import pytest

import zelk_compose._native as z

ROUNDS = 100_000


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def swallow(fn, *args):
    try:
        fn(*args)
    except z.ZelkComposeError:
        pass


CALLS = [
    ("discover_tokens", lambda t, p: z.discover_tokens(t)),
    ("discover_tokens_with_brace_count", lambda t, p: z.discover_tokens_with_brace_count(t, 2)),
    ("to_forward_slash", lambda t, p: z.to_forward_slash(p)),
    ("VariableName", lambda t, p: repr(z.VariableName("user.name"))),
    ("ProfileName", lambda t, p: str(z.ProfileName("agent"))),
    ("invalid VariableName", lambda t, p: swallow(z.VariableName, "a b")),
    ("exception", lambda t, p: z.ZelkConfigError("m", "C", ["h"], "k", "d", 1).recovery_hints),
]


@pytest.mark.parametrize(("label", "call"), CALLS, ids=[c[0] for c in CALLS])
def test_repeated_calls_do_not_leak(label, call):
    text = "{% for i in xs %}{{ i }}{{ user.name }}{% endfor %}" * 3
    path = pathlib.Path("a") / "b"
    for _ in range(2000):
        call(text, path)
    gc.collect()
    refs = (sys.getrefcount(text), sys.getrefcount(path))
    total = getattr(sys, "gettotalrefcount", lambda: 0)()
    before = rss_bytes()
    for _ in range(ROUNDS):
        call(text, path)
    gc.collect()
    assert (sys.getrefcount(text), sys.getrefcount(path)) == refs
    assert getattr(sys, "gettotalrefcount", lambda: 0)() - total < 1000
    # A leak of even one small object per call would grow the heap by several megabytes.
    assert rss_bytes() - before < 2 * 1024 * 1024, label


def test_type_errors_do_not_leak():
    before = rss_bytes()
    for _ in range(ROUNDS):
        for bad in ((1,), ("m", None, "hint"), ("m", None, None, None, None, -1)):
            try:
                z.ZelkConfigError(*bad)
            except (TypeError, OverflowError):
                pass
        try:
            z.to_forward_slash(b"x")
        except TypeError:
            pass
    gc.collect()
    assert rss_bytes() - before < 2 * 1024 * 1024
