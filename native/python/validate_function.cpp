#include "python/validate_function.hpp"

#include <utility>

#include "composer/validate.hpp"
#include "python/errors.hpp"
#include "python/types/compose_request.hpp"
#include "python/types/validation_report.hpp"

namespace zelk::python {
namespace {

PyObject* py_validate(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"request", nullptr};
        PyObject* request = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:validate", const_cast<char**>(keywords),
                                         &request)) {
            return nullptr;
        }
        const auto* core_request = unwrap_compose_request(request);
        if (core_request == nullptr) {
            PyErr_Format(PyExc_TypeError, "argument 'request' must be ComposeRequest, not %.200s",
                         Py_TYPE(request)->tp_name);
            return nullptr;
        }
        auto report = composer::validate(*core_request);
        if (!report) {
            return raise_compose_error(report.error());
        }
        return wrap_validation_report(std::move(*report));
    });
}

}  // namespace

PyMethodDef validate_def = {
    "validate",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_validate)),
    METH_VARARGS | METH_KEYWORDS,
    "validate(request)\n--\n\n",
};

}  // namespace zelk::python
