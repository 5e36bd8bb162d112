#pragma once
// The class ComposeMode: what a request composes, a template file or a profile.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "composer/types/request.hpp"

namespace zelk::python {

/// The class `ComposeMode` (created on first use).
PyTypeObject* compose_mode_type();

/// A new `ComposeMode` instance holding a copy of `mode`; nullptr with an exception set.
PyObject* wrap_compose_mode(const composer::ComposeMode& mode);

/// The mode held by a `ComposeMode` instance, or nullptr when `object` is not one.
const composer::ComposeMode* unwrap_compose_mode(PyObject* object);

/// "ComposeMode.file({path})" or "ComposeMode.profile(kind={kind}, name={name})".
std::string compose_mode_repr(const composer::ComposeMode& mode);

}  // namespace zelk::python
