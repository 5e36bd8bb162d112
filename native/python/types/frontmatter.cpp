#include "python/types/frontmatter.hpp"

#include "python/convert/basic.hpp"
#include "python/convert/values.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/types/diagnostic.hpp"
#include "python/types/names.hpp"

namespace zelk::python {
namespace {

using composer::Frontmatter;

PyObject* get_pass_number(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(unbox<Frontmatter>(self).pass_number);
}

PyObject* get_required_variables(PyObject* self, void*) {
    return guarded([&] { return new_list(unbox<Frontmatter>(self).required_variables, wrap_variable_name); });
}

PyObject* get_defaults(PyObject* self, void*) {
    return guarded([&] { return var_map_to_py(unbox<Frontmatter>(self).defaults); });
}

PyObject* get_metadata(PyObject* self, void*) {
    return guarded([&] { return metadata_map_to_py(unbox<Frontmatter>(self).metadata); });
}

PyObject* get_diagnostics(PyObject* self, void*) {
    return guarded([&] { return diagnostic_list(unbox<Frontmatter>(self).diagnostics); });
}

PyGetSetDef kGetters[] = {
    {"pass_number", get_pass_number, nullptr, nullptr, nullptr},
    {"required_variables", get_required_variables, nullptr, nullptr, nullptr},
    {"defaults", get_defaults, nullptr, nullptr, nullptr},
    {"metadata", get_metadata, nullptr, nullptr, nullptr},
    {"diagnostics", get_diagnostics, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_frontmatter_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<Frontmatter>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.Frontmatter",
        static_cast<int>(sizeof(Boxed<Frontmatter>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* frontmatter_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_frontmatter_type);
}

PyObject* wrap_frontmatter(const Frontmatter& frontmatter) {
    return box(frontmatter_type(), frontmatter);
}

PyObject* frontmatter_list(const std::vector<Frontmatter>& frontmatters) {
    return new_list(frontmatters, wrap_frontmatter);
}

}  // namespace zelk::python
