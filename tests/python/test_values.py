"""Python values and input values: conversions, their order of checks, messages and limits."""

import fractions
import math

import pytest

import zelk_compose._native as z


def roundtrip(value):
    """The value after py_to_json_value and json_to_py, through PassConfig defaults."""
    return z.PassConfig(1, defaults={"v": value}).defaults["v"]


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        (None, None),
        (True, True),
        (False, False),
        (0, 0),
        (-(2**63), -(2**63)),
        (2**63, 2**63),
        (2**64 - 1, 2**64 - 1),
        (2**64, float(2**64)),
        (-(2**63) - 1, float(-(2**63) - 1)),
        (1.5, 1.5),
        (fractions.Fraction(1, 4), 0.25),
        ("text", "text"),
        ((1, "a"), [1, "a"]),
        ({"b": 1, "a": [None]}, {"a": [None], "b": 1}),
        (b"AB", [65, 66]),
        (iter([1, 2]), [1, 2]),
        ((i for i in range(3)), [0, 1, 2]),
        ([[], {}], [[], {}]),
    ],
)
def test_python_values_convert_by_the_first_rule_that_applies(value, expected):
    result = roundtrip(value)
    assert result == expected
    assert type(result) is type(expected)


def test_bool_is_not_an_integer_and_objects_with_index_are():
    class Index:
        def __index__(self):
            return 7

    assert roundtrip(True) is True
    assert roundtrip(Index()) == 7
    assert roundtrip({"x"}) == ["x"]


def test_objects_come_back_with_sorted_keys():
    assert list(roundtrip({"b": 1, "a": 2})) == ["a", "b"]
    assert list(z.input_value_from_yaml("b: 1\na: 2\nc: {z: 1, y: 2}")) == ["a", "b", "c"]


@pytest.mark.parametrize(
    ("value", "message"),
    [
        (float("nan"), "floating-point values must be finite"),
        ([1, float("inf")], "floating-point values must be finite"),
        ({1: "a"}, "object keys must be strings"),
        ({"a": {None: 1}}, "object keys must be strings"),
        (object(), "unsupported Python value type for compose input: object"),
        (10**400, "unsupported Python value type for compose input: int"),
        (1j, "unsupported Python value type for compose input: complex"),
    ],
)
def test_unconvertible_values_are_refused(value, message):
    with pytest.raises(z.ZelkValidationError) as caught:
        z.validate_input_value(value)
    assert caught.value.message == message
    assert caught.value.code is None


def test_hooks_of_the_callers_objects_propagate_their_exceptions():
    class BadIndex:
        def __index__(self):
            raise KeyError("from index")

    def failing():
        yield 1
        raise LookupError("from iterator")

    with pytest.raises(KeyError):
        z.validate_input_value([BadIndex()])
    with pytest.raises(LookupError):
        z.validate_input_value({"a": failing()})


def test_hostile_values_end_in_errors():
    cyclic = []
    cyclic.append(cyclic)
    looped = {}
    looped["self"] = [looped]
    for value in (cyclic, looped):
        with pytest.raises(z.ZelkValidationError, match="holds itself"):
            z.validate_input_value(value)

    deep = []
    for _ in range(100000):
        deep = [deep]
    with pytest.raises(z.ZelkValidationError, match="deeper than 1000"):
        z.validate_input_value(deep)

    deepest = []
    for _ in range(999):
        deepest = {"k": deepest}
    assert z.validate_input_value(deepest) is None

    with pytest.raises(z.ZelkValidationError, match="surrogate"):
        z.validate_input_value("bad \udcff")
    with pytest.raises(z.ZelkValidationError, match="surrogate"):
        z.validate_input_value({"\ud800": 1})


def test_a_dict_changed_while_it_is_read_is_an_internal_failure():
    class Grow:
        def __init__(self, target):
            self.target = target

        def __index__(self):
            self.target["new"] = 1
            return 1

    class Swap:
        def __init__(self, target):
            self.target = target

        def __index__(self):
            # Replaces a key already read: the same size, but one item more to visit.
            self.target.pop("a", None)
            self.target["c"] = 3
            return 1

    grow = {}
    grow["a"] = Grow(grow)
    with pytest.raises(BaseException, match="dictionary changed size during iteration") as caught:
        z.validate_input_value(grow)
    assert not isinstance(caught.value, Exception)

    swap = {}
    swap["a"] = Swap(swap)
    swap["b"] = 2
    with pytest.raises(BaseException, match="dictionary keys changed during iteration"):
        z.validate_input_value(swap)
    # The interpreter and the module stay usable.
    assert z.validate_input_value({"a": 1}) is None


def test_validate_input_value_accepts_nested_json_like_values():
    assert z.validate_input_value({"a": [1, 2.5, "x", {"b": [None, True]}], "c": []}) is None
    with pytest.raises(TypeError):
        z.validate_input_value()


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("1", 1),
        ("1.5", 1.5),
        ("'12'", "12"),
        ("0x1F", 31),
        ("0123", "0123"),
        ("yes", "yes"),
        ("~", None),
        ("1e3", 1000.0),
        ("1e999", "1e999"),
        ("!tagged 5", 5),
        ("", None),
        ("[a, {k: [1, 2]}]", ["a", {"k": [1, 2]}]),
        ("base: &b [1]\ncopy: *b\n", {"base": [1], "copy": [1]}),
        ("k: 1\nk: 2\n", {"k": 2}),
    ],
)
def test_input_value_from_yaml_types_scalars(text, expected):
    result = z.input_value_from_yaml(text)
    assert result == expected
    assert type(result) is type(expected)


@pytest.mark.parametrize(
    ("text", "error", "code", "message"),
    [
        (".inf", z.ZelkValidationError, "ERR_VAL_OBJECT_SHAPE", "expected a JSON-compatible number"),
        ("{1: a}", z.ZelkValidationError, "ERR_VAL_OBJECT_SHAPE", "expected object/map keys to be strings"),
        ("a: [", z.ZelkConfigError, "ERR_CONFIG_PARSE", None),
        ("a: 1\n---\nb: 2\n", z.ZelkConfigError, "ERR_CONFIG_PARSE", None),
        ("[" * 100000, z.ZelkConfigError, "ERR_CONFIG_PARSE", "YAML nesting depth exceeds the maximum of 1000"),
    ],
)
def test_input_value_from_yaml_failures(text, error, code, message):
    with pytest.raises(error) as caught:
        z.input_value_from_yaml(text)
    assert caught.value.code == code
    assert caught.value.recovery_hints == []
    if message is not None:
        assert caught.value.message.startswith(message)


def test_input_value_from_yaml_refuses_alias_bombs_and_non_text():
    bomb = "a: &a [x, x, x, x, x, x, x, x, x, x]\n" + "".join(
        f"{chr(c)}: &{chr(c)} [{', '.join(['*' + chr(c - 1)] * 10)}]\n" for c in range(ord("b"), ord("k"))
    )
    with pytest.raises(z.ZelkConfigError, match="too many nodes"):
        z.input_value_from_yaml(bomb)
    with pytest.raises(TypeError, match="input"):
        z.input_value_from_yaml(b"a: 1")


@pytest.mark.parametrize(
    ("variables", "message"),
    [
        ([("a", 1)], "variable maps must be Python dict instances"),
        ({1: 1}, "variable names must be strings"),
        ({"": 1}, "invalid variable name ``: invalid variable name ``"),
        ({"a b": 1}, "invalid variable name `a b`: invalid variable name `a b`"),
        ({"ok": float("nan")}, "floating-point values must be finite"),
    ],
)
def test_variable_maps_check_names_then_values(variables, message):
    with pytest.raises(z.ZelkValidationError) as caught:
        z.PassConfig(1, defaults=variables)
    assert caught.value.message == message
    assert caught.value.code is None


@pytest.mark.parametrize(
    ("metadata", "message"),
    [
        ([], "metadata must be a Python dict instance"),
        ({1: "x"}, "metadata keys must be strings"),
        ({"any key": object()}, "unsupported Python value type for compose input: object"),
    ],
)
def test_metadata_maps_have_no_name_rules(metadata, message):
    with pytest.raises(z.ZelkValidationError) as caught:
        z.PassConfig(1, metadata=metadata)
    assert caught.value.message == message
    assert z.PassConfig(1, metadata={"any key": {"n": 1}}).metadata == {"any key": {"n": 1}}


@pytest.mark.parametrize(
    ("names", "expected"),
    [
        (None, []),
        ("ab", ["a", "b"]),
        (["x", z.VariableName("y"), "x"], ["x", "y", "x"]),
    ],
)
def test_variable_name_lists_keep_order_and_duplicates(names, expected):
    config = z.PassConfig(1, required_variables=names)
    assert [str(name) for name in config.required_variables] == expected
    assert all(type(name) is z.VariableName for name in config.required_variables)


def test_variable_name_lists_refuse_other_items():
    with pytest.raises(z.ZelkValidationError) as caught:
        z.PassConfig(1, required_variables=[1])
    assert caught.value.message == "required_variables entries must be strings or VariableName instances"
    with pytest.raises(z.ZelkValidationError, match="invalid variable name `a b`: invalid variable name `a b`"):
        z.PassConfig(1, required_variables=["a b"])
    with pytest.raises(TypeError):
        z.PassConfig(1, required_variables=5)


@pytest.mark.parametrize(
    ("contexts", "message"),
    [
        ([[1, {}]], "contexts entries must be (pass_number, variables) tuples"),
        ([(1,)], "contexts entries must contain exactly two items"),
        ([(1, {}, 2)], "contexts entries must contain exactly two items"),
        ([(256, {})], "context pass numbers must be integers"),
        ([("1", {})], "context pass numbers must be integers"),
        ([(1, None)], "variable maps must be Python dict instances"),
    ],
)
def test_pass_contexts_are_checked_in_order(contexts, message):
    parsed = z.parse_template_document("---\n---\n{{ a }}")
    with pytest.raises(z.ZelkValidationError) as caught:
        z.render_all(parsed, contexts)
    assert caught.value.message == message
