#include "python/types/validation_report.hpp"

#include <utility>

#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/types/diagnostic.hpp"
#include "python/types/resolve_result.hpp"

namespace zelk::python {
namespace {

using composer::ValidationReport;

PyObject* get_ok(PyObject* self, void*) {
    return PyBool_FromLong(unbox<ValidationReport>(self).ok ? 1 : 0);
}

PyObject* get_errors(PyObject* self, void*) {
    return guarded([&] { return diagnostic_list(unbox<ValidationReport>(self).errors); });
}

PyObject* get_warnings(PyObject* self, void*) {
    return guarded([&] { return diagnostic_list(unbox<ValidationReport>(self).warnings); });
}

PyObject* get_resolve_result(PyObject* self, void*) {
    return guarded([&] { return wrap_resolve_result(unbox<ValidationReport>(self).resolve_result); });
}

PyGetSetDef kGetters[] = {
    {"ok", get_ok, nullptr, nullptr, nullptr},
    {"errors", get_errors, nullptr, nullptr, nullptr},
    {"warnings", get_warnings, nullptr, nullptr, nullptr},
    {"resolve_result", get_resolve_result, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_validation_report_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ValidationReport>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ValidationReport",
        static_cast<int>(sizeof(Boxed<ValidationReport>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* validation_report_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_validation_report_type);
}

PyObject* wrap_validation_report(ValidationReport report) {
    return box(validation_report_type(), std::move(report));
}

}  // namespace zelk::python
