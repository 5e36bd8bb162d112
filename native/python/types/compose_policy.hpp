#pragma once
// The class ComposePolicy: how strictly a composition is checked.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "composer/types/request.hpp"

namespace zelk::python {

/// The class `ComposePolicy` (created on first use).
PyTypeObject* compose_policy_type();

/// A new `ComposePolicy` instance holding a copy of `policy`; nullptr with an exception set.
PyObject* wrap_compose_policy(const composer::ComposePolicy& policy);

/// The policy held by a `ComposePolicy` instance, or nullptr when `object` is not one.
const composer::ComposePolicy* unwrap_compose_policy(PyObject* object);

/// "ComposePolicy(strict_undeclared_variables=..., ..., json_escape_mode=...)".
std::string compose_policy_repr(const composer::ComposePolicy& policy);

}  // namespace zelk::python
