#include "python/types/renderer.hpp"

#include <string>
#include <utility>

#include "composer/renderer.hpp"
#include "python/args.hpp"
#include "python/convert/values.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/render_functions.hpp"

namespace zelk::python {
namespace {

using composer::Renderer;

PyObject* renderer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {nullptr};
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, ":Renderer", const_cast<char**>(keywords))) {
            return nullptr;
        }
        return box(type, Renderer());
    });
}

PyObject* renderer_with_delimiters(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"open", "close", nullptr};
        PyObject* open = nullptr;
        PyObject* close = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:with_delimiters", const_cast<char**>(keywords),
                                         &open, &close)) {
            return nullptr;
        }
        auto start = str_argument(open, "open");
        if (!start) {
            return nullptr;
        }
        auto end = str_argument(close, "close");
        if (!end) {
            return nullptr;
        }
        auto renderer = Renderer::with_delimiters(std::move(*start), std::move(*end));
        if (!renderer) {
            return raise_render_error(renderer.error());
        }
        // Always a plain Renderer, whatever class the method was looked up on.
        return box(renderer_type(), std::move(*renderer));
    });
}

PyObject* renderer_render(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"template", "context", nullptr};
        PyObject* template_arg = nullptr;
        PyObject* context_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:render", const_cast<char**>(keywords),
                                         &template_arg, &context_arg)) {
            return nullptr;
        }
        return render_inline(unbox<Renderer>(self), template_arg, context_arg);
    });
}

PyObject* renderer_render_named(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"name", "template", "context", nullptr};
        PyObject* name_arg = nullptr;
        PyObject* template_arg = nullptr;
        PyObject* context_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:render_named", const_cast<char**>(keywords),
                                         &name_arg, &template_arg, &context_arg)) {
            return nullptr;
        }
        auto name = str_argument(name_arg, "name");
        if (!name) {
            return nullptr;
        }
        return render_with_name(unbox<Renderer>(self), std::move(*name), template_arg, context_arg);
    });
}

PyMethodDef kMethods[] = {
    {"with_delimiters", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(renderer_with_delimiters)),
     METH_VARARGS | METH_KEYWORDS | METH_CLASS, "with_delimiters($cls, open, close)\n--\n\n"},
    {"render", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(renderer_render)),
     METH_VARARGS | METH_KEYWORDS, "render($self, template, context)\n--\n\n"},
    {"render_named", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(renderer_render_named)),
     METH_VARARGS | METH_KEYWORDS, "render_named($self, name, template, context)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject* create_renderer_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("Renderer()\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(renderer_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<Renderer>)},
        {Py_tp_methods, kMethods},
        {0, nullptr},
    };
    // No BASETYPE: not subclassable.
    static PyType_Spec spec = {
        "builtins.Renderer",
        static_cast<int>(sizeof(Boxed<Renderer>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* renderer_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_renderer_type);
}

}  // namespace zelk::python
