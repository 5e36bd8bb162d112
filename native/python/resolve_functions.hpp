#pragma once
// The module functions resolve_template_path and resolve_profile.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zelk::python {

/// "resolve_template_path(request)"
extern PyMethodDef resolve_template_path_def;
/// "resolve_profile(request)"
extern PyMethodDef resolve_profile_def;

}  // namespace zelk::python
