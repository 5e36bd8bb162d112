#include "python/resolve_functions.hpp"

#include <expected>
#include <utility>

#include "composer/resolver.hpp"
#include "python/errors.hpp"
#include "python/types/compose_request.hpp"
#include "python/types/resolve_result.hpp"

namespace zelk::python {
namespace {

using Resolution =
    std::expected<composer::ResolveResult, composer::ComposeError> (*)(const composer::ComposeRequest&);

// Binds the single `request` argument, runs `resolve` on it and wraps the outcome.
PyObject* resolve_request(PyObject* args, PyObject* kwargs, const char* format, Resolution resolve) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"request", nullptr};
        PyObject* request = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &request)) {
            return nullptr;
        }
        const auto* core_request = unwrap_compose_request(request);
        if (core_request == nullptr) {
            PyErr_Format(PyExc_TypeError, "argument 'request' must be ComposeRequest, not %.200s",
                         Py_TYPE(request)->tp_name);
            return nullptr;
        }
        auto result = resolve(*core_request);
        if (!result) {
            return raise_compose_error(result.error());
        }
        return wrap_resolve_result(std::move(*result));
    });
}

PyObject* py_resolve_template_path(PyObject*, PyObject* args, PyObject* kwargs) {
    return resolve_request(args, kwargs, "O:resolve_template_path", composer::resolve_template_path);
}

PyObject* py_resolve_profile(PyObject*, PyObject* args, PyObject* kwargs) {
    return resolve_request(args, kwargs, "O:resolve_profile", composer::resolve_profile);
}

}  // namespace

PyMethodDef resolve_template_path_def = {
    "resolve_template_path",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_resolve_template_path)),
    METH_VARARGS | METH_KEYWORDS,
    "resolve_template_path(request)\n--\n\n",
};

PyMethodDef resolve_profile_def = {
    "resolve_profile",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_resolve_profile)),
    METH_VARARGS | METH_KEYWORDS,
    "resolve_profile(request)\n--\n\n",
};

}  // namespace zelk::python
