#pragma once
// The class Frontmatter: one normalised frontmatter block (one pass), read-only.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

#include "composer/frontmatter/model.hpp"

namespace zelk::python {

/// The class `Frontmatter` (created on first use; not instantiable from Python).
PyTypeObject* frontmatter_type();

/// A new `Frontmatter` instance holding a copy of `frontmatter`; nullptr with an exception set.
PyObject* wrap_frontmatter(const composer::Frontmatter& frontmatter);

/// A new list of new `Frontmatter` instances, in order.
PyObject* frontmatter_list(const std::vector<composer::Frontmatter>& frontmatters);

}  // namespace zelk::python
