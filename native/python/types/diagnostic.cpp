#include "python/types/diagnostic.hpp"

#include "composer/utf8.hpp"
#include "python/args.hpp"
#include "python/convert/basic.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"

namespace zelk::python {
namespace {

using composer::Diagnostic;

PyObject* optional_number(const std::optional<std::uint64_t>& number) {
    if (!number) {
        Py_RETURN_NONE;
    }
    return PyLong_FromUnsignedLongLong(*number);
}

PyObject* path_text(const std::filesystem::path& path) {
    return to_py_str(composer::path_display(path));
}

PyObject* get_severity(PyObject* self, void*) {
    return guarded([&] { return to_py_str(composer::as_str(unbox<Diagnostic>(self).severity)); });
}

PyObject* get_code(PyObject* self, void*) {
    return guarded([&] { return to_py_str(composer::as_str(unbox<Diagnostic>(self).code)); });
}

PyObject* get_message(PyObject* self, void*) {
    return guarded([&] { return to_py_str(unbox<Diagnostic>(self).message); });
}

PyObject* get_path(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto& path = unbox<Diagnostic>(self).path;
        if (!path) {
            Py_RETURN_NONE;
        }
        return path_text(*path);
    });
}

PyObject* get_line(PyObject* self, void*) {
    return optional_number(unbox<Diagnostic>(self).line);
}

PyObject* get_column(PyObject* self, void*) {
    return optional_number(unbox<Diagnostic>(self).column);
}

PyObject* get_include_chain(PyObject* self, void*) {
    return guarded([&] { return new_list(unbox<Diagnostic>(self).include_chain, path_text); });
}

PyGetSetDef kGetters[] = {
    {"severity", get_severity, nullptr, nullptr, nullptr},
    {"code", get_code, nullptr, nullptr, nullptr},
    {"message", get_message, nullptr, nullptr, nullptr},
    {"path", get_path, nullptr, nullptr, nullptr},
    {"line", get_line, nullptr, nullptr, nullptr},
    {"column", get_column, nullptr, nullptr, nullptr},
    {"include_chain", get_include_chain, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_diagnostic_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<Diagnostic>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.Diagnostic",
        static_cast<int>(sizeof(Boxed<Diagnostic>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* diagnostic_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_diagnostic_type);
}

PyObject* wrap_diagnostic(const Diagnostic& diagnostic) {
    return box(diagnostic_type(), diagnostic);
}

PyObject* diagnostic_list(const std::vector<Diagnostic>& diagnostics) {
    return new_list(diagnostics, wrap_diagnostic);
}

}  // namespace zelk::python
