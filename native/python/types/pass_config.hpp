#pragma once
// The class PassConfig: one rendering pass as a caller describes it.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "composer/types/request.hpp"

namespace zelk::python {

/// The class `PassConfig` (created on first use).
PyTypeObject* pass_config_type();

/// A new `PassConfig` instance holding a copy of `config`; nullptr with an exception set.
PyObject* wrap_pass_config(const composer::PassConfig& config);

/// The record held by a `PassConfig` instance, or nullptr when `object` is not one.
const composer::PassConfig* unwrap_pass_config(PyObject* object);

/// "PassConfig(pass_number={n}, required_variables={names}, defaults={count}, metadata={count})".
std::string pass_config_repr(const composer::PassConfig& config);

}  // namespace zelk::python
