#pragma once
// The module functions of input values and template documents.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zelk::python {

/// "validate_input_value(value)"
extern PyMethodDef validate_input_value_def;
/// "input_value_from_yaml(input)"
extern PyMethodDef input_value_from_yaml_def;
/// "parse_template_document(input)"
extern PyMethodDef parse_template_document_def;
/// "discover_all_pass_tokens(parsed)"
extern PyMethodDef discover_all_pass_tokens_def;

}  // namespace zelk::python
