#pragma once
// The class ParsedTemplate: a template document split into body and frontmatter passes.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "composer/frontmatter/model.hpp"

namespace zelk::python {

/// The class `ParsedTemplate` (created on first use; not instantiable from Python).
PyTypeObject* parsed_template_type();

/// A new `ParsedTemplate` instance holding `parsed`; nullptr with an exception set.
PyObject* wrap_parsed_template(composer::ParsedTemplate parsed);

/// The document held by a `ParsedTemplate` instance, or nullptr when `object` is not one.
const composer::ParsedTemplate* unwrap_parsed_template(PyObject* object);

}  // namespace zelk::python
