#include "python/types/rendered_artifact.hpp"

#include <utility>

#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"

namespace zelk::python {
namespace {

PyObject* get_template_name(PyObject* self, void*) {
    return guarded([&] { return to_py_str(unbox<RenderedArtifact>(self).template_name); });
}

PyObject* get_rendered(PyObject* self, void*) {
    return guarded([&] { return to_py_str(unbox<RenderedArtifact>(self).rendered); });
}

PyGetSetDef kGetters[] = {
    {"template_name", get_template_name, nullptr, nullptr, nullptr},
    {"rendered", get_rendered, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_rendered_artifact_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<RenderedArtifact>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.RenderedArtifact",
        static_cast<int>(sizeof(Boxed<RenderedArtifact>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* rendered_artifact_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_rendered_artifact_type);
}

PyObject* wrap_rendered_artifact(RenderedArtifact artifact) {
    return box(rendered_artifact_type(), std::move(artifact));
}

}  // namespace zelk::python
