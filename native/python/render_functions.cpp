#include "python/render_functions.hpp"

#include <utility>

#include "python/args.hpp"
#include "python/convert/values.hpp"
#include "python/errors.hpp"
#include "python/types/loaded_template_request.hpp"
#include "python/types/rendered_artifact.hpp"

namespace zelk::python {
namespace {

PyObject* py_render_template(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"template", "context", nullptr};
        PyObject* template_arg = nullptr;
        PyObject* context_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:render_template", const_cast<char**>(keywords),
                                         &template_arg, &context_arg)) {
            return nullptr;
        }
        return render_inline(composer::Renderer(), template_arg, context_arg);
    });
}

PyObject* py_render_loaded_template(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"request", nullptr};
        PyObject* request_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:render_loaded_template",
                                         const_cast<char**>(keywords), &request_arg)) {
            return nullptr;
        }
        const composer::LoadedTemplateRequest* request = unwrap_loaded_template_request(request_arg);
        if (request == nullptr) {
            if (PyErr_Occurred()) {
                return nullptr;
            }
            PyErr_Format(PyExc_TypeError, "argument 'request' must be LoadedTemplateRequest, not %.200s",
                         Py_TYPE(request_arg)->tp_name);
            return nullptr;
        }
        auto rendered = composer::render_loaded_template(*request);
        if (!rendered) {
            return raise_render_error(rendered.error());
        }
        return wrap_rendered_artifact(RenderedArtifact{request->template_name, std::move(*rendered)});
    });
}

}  // namespace

PyObject* render_with_name(const composer::Renderer& renderer, std::string name, PyObject* template_arg,
                           PyObject* context_arg) {
    const auto source = str_argument(template_arg, "template");
    if (!source) {
        return nullptr;
    }
    const auto context = validated_input_value(context_arg);
    if (!context) {
        return nullptr;
    }
    auto rendered = renderer.render_named(std::move(name), *source, *context);
    if (!rendered) {
        return raise_render_error(rendered.error());
    }
    return to_py_str(*rendered);
}

PyObject* render_inline(const composer::Renderer& renderer, PyObject* template_arg, PyObject* context_arg) {
    return render_with_name(renderer, "inline", template_arg, context_arg);
}

PyMethodDef render_template_def = {
    "render_template",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_render_template)),
    METH_VARARGS | METH_KEYWORDS,
    "render_template(template, context)\n--\n\n",
};

PyMethodDef render_loaded_template_def = {
    "render_loaded_template",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_render_loaded_template)),
    METH_VARARGS | METH_KEYWORDS,
    "render_loaded_template(request)\n--\n\n",
};

}  // namespace zelk::python
