#pragma once
// The classes VariableName and ProfileName: immutable, attribute-free wrappers of validated names.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <set>

#include "composer/types/names.hpp"

namespace zelk::python {

/// The class `VariableName` (created on first use).
PyTypeObject* variable_name_type();
/// The class `ProfileName` (created on first use).
PyTypeObject* profile_name_type();

/// A new `VariableName` instance holding `name`; nullptr with an exception set.
PyObject* wrap_variable_name(const composer::VariableName& name);
/// A new `ProfileName` instance holding `name`; nullptr with an exception set.
PyObject* wrap_profile_name(const composer::ProfileName& name);

/// A new list holding one new `VariableName` per name, in the set's (byte) order.
PyObject* variable_name_list(const std::set<composer::VariableName>& names);

/// The name held by a `VariableName` instance, or nullptr when `object` is not one.
const composer::VariableName* unwrap_variable_name(PyObject* object);
/// The name held by a `ProfileName` instance, or nullptr when `object` is not one.
const composer::ProfileName* unwrap_profile_name(PyObject* object);

}  // namespace zelk::python
