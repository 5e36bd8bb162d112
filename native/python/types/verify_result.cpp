#include "python/types/verify_result.hpp"

#include <fmt/format.h>

#include <utility>

#include "composer/utf8.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/quoting.hpp"
#include "python/types/diagnostic.hpp"

namespace zelk::python {
namespace {

using composer::VerifyResult;

const VerifyResult& held(PyObject* self) {
    return unbox<VerifyResult>(self);
}

PyObject* get_clean(PyObject* self, void*) {
    return PyBool_FromLong(held(self).clean ? 1 : 0);
}

PyObject* get_resolved_template_path(PyObject* self, void*) {
    return guarded([&] { return to_py_str(composer::path_display(held(self).resolved_template_path)); });
}

PyObject* get_deployed_path(PyObject* self, void*) {
    return guarded([&] { return to_py_str(composer::path_display(held(self).deployed_path)); });
}

PyObject* get_rendered_text(PyObject* self, void*) {
    return guarded([&] { return to_py_str(held(self).rendered_text); });
}

PyObject* get_deployed_text(PyObject* self, void*) {
    return guarded([&] { return to_py_str(held(self).deployed_text); });
}

PyObject* get_diff(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        if (!held(self).diff) {
            Py_RETURN_NONE;
        }
        return to_py_str(*held(self).diff);
    });
}

PyObject* get_warnings(PyObject* self, void*) {
    return guarded([&] { return diagnostic_list(held(self).warnings); });
}

PyObject* verify_result_repr(PyObject* self) {
    return guarded([&] {
        const VerifyResult& result = held(self);
        return to_py_str(
            fmt::format("VerifyResult(clean={}, resolved_template_path={}, deployed_path={}, diff={})",
                        result.clean ? "True" : "False", debug_quote_path(result.resolved_template_path),
                        debug_quote_path(result.deployed_path), result.diff ? "True" : "False"));
    });
}

PyGetSetDef kGetters[] = {
    {"clean", get_clean, nullptr, nullptr, nullptr},
    {"resolved_template_path", get_resolved_template_path, nullptr, nullptr, nullptr},
    {"deployed_path", get_deployed_path, nullptr, nullptr, nullptr},
    {"rendered_text", get_rendered_text, nullptr, nullptr, nullptr},
    {"deployed_text", get_deployed_text, nullptr, nullptr, nullptr},
    {"diff", get_diff, nullptr, nullptr, nullptr},
    {"warnings", get_warnings, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_verify_result_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<VerifyResult>)},
        {Py_tp_getset, kGetters},
        {Py_tp_repr, reinterpret_cast<void*>(verify_result_repr)},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.VerifyResult",
        static_cast<int>(sizeof(Boxed<VerifyResult>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* verify_result_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_verify_result_type);
}

PyObject* wrap_verify_result(VerifyResult result) {
    return box(verify_result_type(), std::move(result));
}

}  // namespace zelk::python
