#pragma once
// The rendering functions render_template and render_loaded_template, and the shared steps of
// Renderer.render / render_named.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "composer/renderer.hpp"

namespace zelk::python {

/// "render_template(template, context)"
extern PyMethodDef render_template_def;
/// "render_loaded_template(request)"
extern PyMethodDef render_loaded_template_def;

/// Converts `template_arg` (a str, else TypeError naming `template`) and `context_arg` (a validated
/// input value), then renders under `name`; the output as a new str, or nullptr with
/// ZelkRenderError / the conversion's exception set.
PyObject* render_with_name(const composer::Renderer& renderer, std::string name, PyObject* template_arg,
                           PyObject* context_arg);
/// `render_with_name` under the name "inline".
PyObject* render_inline(const composer::Renderer& renderer, PyObject* template_arg, PyObject* context_arg);

}  // namespace zelk::python
