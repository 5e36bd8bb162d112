#pragma once
// Conversions between Python objects and the input-value model. Every function returns an
// empty value (or nullptr) with a Python exception set on failure; nothing partial is returned.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>

#include "composer/types/input_value.hpp"

namespace zelk::python {

/// A Python object as an input value, by the first rule that applies: None; bool (NumPy's
/// boolean too); an int or __index__ object fitting int64, then uint64; anything convertible to
/// a finite float; str; dict with str keys; any other iterable as an array; else
/// ZelkValidationError "unsupported Python value type for compose input: {type}". Containers
/// that hold themselves, nesting deeper than composer::kMaxValueDepth and str with lone
/// surrogates are refused with ZelkValidationError; a dict changed while it is read raises the
/// internal-failure exception. Exceptions of the caller's own hooks propagate unchanged.
std::optional<composer::InputValue> py_to_json_value(PyObject* object);

/// `py_to_json_value`, then the input-value validation, whose violations raise
/// ZelkValidationError with the violation's code.
std::optional<composer::InputValue> validated_input_value(PyObject* object);

/// A new Python object for an input value: None, bool, int, float, str, list, or dict whose
/// keys are inserted in ascending order.
PyObject* json_to_py(const composer::InputValue& value);

/// A new dict of a variable map, names ascending, values through `json_to_py`.
PyObject* var_map_to_py(const composer::VariableMap& map);

/// A new dict of a metadata map, keys ascending, each value turned into an input value and
/// then through `json_to_py`; a value that cannot be turned into one raises ZelkConfigError
/// ("ERR_CONFIG_PARSE") and no dict is returned.
PyObject* metadata_map_to_py(const composer::MetadataMap& map);

}  // namespace zelk::python
