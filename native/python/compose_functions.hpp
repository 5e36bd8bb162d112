#pragma once
// The module functions compose, compose_file, render_all and verify.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zelk::python {

/// "compose(request)"
extern PyMethodDef compose_def;
/// "compose_file(request)": the same composition; the request's mode decides what is composed.
extern PyMethodDef compose_file_def;
/// "render_all(parsed, contexts)"
extern PyMethodDef render_all_def;
/// "verify(request, deployed_path)"
extern PyMethodDef verify_def;

}  // namespace zelk::python
