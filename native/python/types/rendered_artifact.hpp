#pragma once
// The class RenderedArtifact: the result of render_loaded_template.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

namespace zelk::python {

/// What one loaded-template render produced.
struct RenderedArtifact {
    std::string template_name;
    std::string rendered;
};

/// The class `RenderedArtifact` (created on first use; not instantiable from Python).
PyTypeObject* rendered_artifact_type();

/// A new `RenderedArtifact` instance owning `artifact`; nullptr with an exception set.
PyObject* wrap_rendered_artifact(RenderedArtifact artifact);

}  // namespace zelk::python
