"""The module frame: registration, exception classes, name classes, argument helpers."""

import gc
import importlib
import inspect
import pathlib
import sys

import pytest

import zelk_compose._native as z

EXCEPTIONS = [
    "ZelkComposeError",
    "ZelkRenderError",
    "ZelkValidationError",
    "ZelkResolveError",
    "ZelkIncludeError",
    "ZelkConfigError",
]
SIGNATURE = (
    "(message, code=None, recovery_hints=None, diagnostic_kind=None, diagnostic_message=None, "
    "diagnostic_occurrence=None)"
)


def test_builtin_variable_names_is_a_plain_list():
    assert z.BUILTIN_VARIABLE_NAMES == ["TEMPLATE_NAME", "HOSTNAME", "USERNAME", "RENDER_DATE", "RENDER_TIMESTAMP"]
    assert type(z.BUILTIN_VARIABLE_NAMES) is list
    assert z.__doc__ == ""


def test_registration_order_puts_exceptions_before_classes_before_functions():
    names = [n for n in vars(z) if not n.startswith("__")]
    assert names[0] == "BUILTIN_VARIABLE_NAMES"
    assert names[1:7] == EXCEPTIONS
    first_function = min(i for i, n in enumerate(names) if inspect.isbuiltin(getattr(z, n)))
    classes = [n for n in names[7:first_function] if isinstance(getattr(z, n), type)]
    assert classes.index("ProfileName") == classes.index("VariableName") + 1
    functions = names[first_function:]
    assert all(inspect.isbuiltin(getattr(z, n)) for n in functions)
    start = functions.index("to_forward_slash")
    assert functions[start : start + 3] == ["to_forward_slash", "discover_tokens", "discover_tokens_with_brace_count"]


@pytest.mark.parametrize(
    ("name", "signature"),
    [
        ("to_forward_slash", "(path)"),
        ("discover_tokens", "(text)"),
        ("discover_tokens_with_brace_count", "(text, brace_count)"),
    ],
)
def test_functions_are_builtins_bound_to_the_module(name, signature):
    function = getattr(z, name)
    assert inspect.isbuiltin(function)
    assert function.__self__ is z
    assert function.__module__ == "zelk_compose._native"
    assert function.__text_signature__ == signature
    assert function.__doc__ in ("", None)


@pytest.mark.parametrize("name", EXCEPTIONS + ["VariableName", "ProfileName"])
def test_classes_are_named_as_builtins(name):
    cls = getattr(z, name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == cls.__qualname__ == name


def test_exception_hierarchy_and_subclassability():
    assert issubclass(z.ZelkComposeError, Exception)
    for name in EXCEPTIONS[1:]:
        assert getattr(z, name).__bases__ == (z.ZelkComposeError,)

    class Mine(z.ZelkComposeError):
        pass

    mine = Mine("m", "C")
    assert (mine.message, mine.code, mine.args) == ("m", "C", ("m", "C"))
    for name in EXCEPTIONS[1:]:
        with pytest.raises(TypeError):
            type("Sub", (getattr(z, name),), {})


@pytest.mark.parametrize("name", EXCEPTIONS)
def test_exception_signature_and_doc(name):
    cls = getattr(z, name)
    assert cls.__text_signature__ == SIGNATURE
    assert cls.__doc__ == ""
    assert str(inspect.signature(cls)) == SIGNATURE


def test_exception_defaults_and_args():
    e = z.ZelkConfigError("only")
    assert (e.message, e.code, e.recovery_hints) == ("only", None, [])
    assert (e.diagnostic_kind, e.diagnostic_message, e.diagnostic_occurrence) == (None, None, None)
    assert e.args == ("only",)

    e = z.ZelkConfigError("m", "C")
    assert (e.message, e.code, e.args) == ("m", "C", ("m", "C"))

    e = z.ZelkConfigError("m", code="C")
    assert (e.message, e.code, e.args) == ("m", "C", ("m",))

    e = z.ZelkValidationError("m", None, ("h1", "h2"), "ambiguous", "dm", 3)
    assert e.recovery_hints == ["h1", "h2"]
    assert (e.diagnostic_kind, e.diagnostic_message, e.diagnostic_occurrence) == ("ambiguous", "dm", 3)
    assert str(e) == str(("m", None, ("h1", "h2"), "ambiguous", "dm", 3))


def test_recovery_hints_read_is_a_fresh_list():
    e = z.ZelkConfigError("m", None, ["a"])
    hints = e.recovery_hints
    hints.append("b")
    assert e.recovery_hints == ["a"]
    assert e.recovery_hints is not e.recovery_hints


@pytest.mark.parametrize(
    ("args", "kwargs", "error", "parameter"),
    [
        ((1,), {}, TypeError, "message"),
        (("m", 1), {}, TypeError, "code"),
        (("m", None, "hint"), {}, TypeError, "recovery_hints"),
        (("m", None, [1]), {}, TypeError, "recovery_hints"),
        (("m", None, 5), {}, TypeError, "recovery_hints"),
        (("m",), {"diagnostic_kind": 1}, TypeError, "diagnostic_kind"),
        (("m",), {"diagnostic_message": b"x"}, TypeError, "diagnostic_message"),
        (("m",), {"diagnostic_occurrence": "1"}, TypeError, "diagnostic_occurrence"),
        (("m",), {"diagnostic_occurrence": -1}, OverflowError, None),
        ((), {}, TypeError, "message"),
        (("m",), {"bogus": 1}, TypeError, "bogus"),
    ],
)
def test_exception_constructor_rejects_bad_arguments(args, kwargs, error, parameter):
    with pytest.raises(error) as info:
        z.ZelkConfigError(*args, **kwargs)
    if parameter is not None:
        assert parameter in str(info.value)


def test_exception_attributes_are_read_only():
    e = z.ZelkResolveError("m")
    with pytest.raises(AttributeError):
        e.message = "other"
    with pytest.raises(AttributeError):
        e.code = "X"


def test_exceptions_can_be_raised_caught_and_collected():
    with pytest.raises(z.ZelkComposeError):
        raise z.ZelkIncludeError("boom", "ERR_INCLUDE_CYCLE")
    e = z.ZelkConfigError("cycle", None, [])
    e.self_reference = e  # exceptions keep a __dict__; a cycle must still be collected
    del e
    gc.collect()


@pytest.mark.parametrize(
    ("cls", "value", "error", "message", "code"),
    [
        ("VariableName", "", "ZelkValidationError", "invalid variable name ``", None),
        ("VariableName", "a b", "ZelkValidationError", "invalid variable name `a b`", None),
        ("VariableName", "ä", "ZelkValidationError", "invalid variable name `ä`", None),
        ("ProfileName", "a/b", "ZelkConfigError", "invalid profile name `a/b`", "ERR_CONFIG_MODE"),
        ("ProfileName", "", "ZelkConfigError", "invalid profile name ``", "ERR_CONFIG_MODE"),
    ],
)
def test_invalid_names_raise_typed_errors(cls, value, error, message, code):
    with pytest.raises(getattr(z, error)) as info:
        getattr(z, cls)(value)
    e = info.value
    assert (e.message, e.code, e.recovery_hints) == (message, code, [])
    assert e.args == (message, code, [], None, None, None)


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        ("x.y", 'VariableName("x.y")'),
        ("my agent", 'ProfileName("my agent")'),
        ("it's \"q\"", 'ProfileName("it\'s \\"q\\"")'),
        ("t\tr\rn\n\0", 'ProfileName("t\\tr\\rn\\n\\0")'),
        ("e\u0301\u200b\u00a0\u2028\x7f\ue000", 'ProfileName("e\\u{301}\\u{200b}\\u{a0}\\u{2028}\\u{7f}\\u{e000}")'),
        ("ünï 日本 😀", 'ProfileName("ünï 日本 😀")'),
    ],
)
def test_name_repr_uses_debug_quoting(value, expected):
    cls = z.VariableName if expected.startswith("Variable") else z.ProfileName
    name = cls(value)
    assert repr(name) == expected
    assert str(name) == value


def test_names_have_identity_semantics_and_no_attributes():
    a, b = z.VariableName("a"), z.VariableName("a")
    assert a != b and a == a
    assert z.VariableName(value="k").__str__() == "k"
    for obj in (a, z.ProfileName("p")):
        with pytest.raises(AttributeError):
            obj.extra = 1
        assert not hasattr(obj, "__dict__")
    for cls in (z.VariableName, z.ProfileName):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        with pytest.raises(TypeError):
            cls(1)
        with pytest.raises(TypeError):
            cls()
        assert cls.__text_signature__ == "(value)"


def test_to_forward_slash_accepts_str_and_pathlike_only():
    assert z.to_forward_slash("a\\b\\") == "a/b/"
    assert z.to_forward_slash("\\\\?\\C:\\x") == "C:/x"
    assert z.to_forward_slash("dir/sub") == z.to_forward_slash(pathlib.Path("dir/sub")) == "dir/sub"

    class Custom:
        def __fspath__(self):
            return "c\\d"

    assert z.to_forward_slash(Custom()) == "c/d"
    assert z.to_forward_slash(path="p") == "p"
    for bad in (b"bytes", 1, None, pathlib.PurePosixPath):
        with pytest.raises(TypeError):
            z.to_forward_slash(bad)

    class BytesPath:
        def __fspath__(self):
            return b"x"

    with pytest.raises(TypeError):
        z.to_forward_slash(BytesPath())


def test_reimport_after_removal_gives_a_working_module():
    saved = sys.modules.pop("zelk_compose._native")
    try:
        fresh = importlib.import_module("zelk_compose._native")
        assert fresh is not saved
        assert fresh.ZelkConfigError is saved.ZelkConfigError  # classes are process-wide
        assert [str(t) for t in fresh.discover_tokens("{{ a }}")] == ["a"]
        assert fresh.discover_tokens.__self__ is fresh
    finally:
        sys.modules["zelk_compose._native"] = saved


def test_subinterpreter_import_fails_cleanly():
    _testcapi = pytest.importorskip("_testcapi")
    code = (
        "import sys\n"
        f"sys.path[:0] = {sys.path!r}\n"
        "try:\n"
        "    import zelk_compose._native\n"
        "except ImportError as e:\n"
        "    assert 'subinterpreter' in str(e), e\n"
        "else:\n"
        "    raise SystemExit('imported in a subinterpreter')\n"
    )
    assert _testcapi.run_in_subinterp(code) == 0


def test_long_cause_chains_are_freed_without_deep_recursion():
    head = z.ZelkConfigError("0")
    for i in range(200_000):
        e = z.ZelkIncludeError(str(i))
        e.__cause__ = head
        head = e
    del head, e
    gc.collect()
