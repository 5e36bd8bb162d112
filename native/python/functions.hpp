#pragma once
// The module functions of the frame: to_forward_slash and token discovery.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zelk::python {

/// "to_forward_slash(path)"
extern PyMethodDef to_forward_slash_def;
/// "discover_tokens(text)"
extern PyMethodDef discover_tokens_def;
/// "discover_tokens_with_brace_count(text, brace_count)"
extern PyMethodDef discover_tokens_with_brace_count_def;

}  // namespace zelk::python
