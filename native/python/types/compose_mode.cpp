#include "python/types/compose_mode.hpp"

#include <filesystem>
#include <utility>

#include "composer/utf8.hpp"
#include "python/args.hpp"
#include "python/convert/maps.hpp"
#include "python/enums.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/quoting.hpp"
#include "python/types/names.hpp"

namespace zelk::python {
namespace {

using composer::ComposeMode;

const ComposeMode::Profile* profile_of(PyObject* self) {
    return std::get_if<ComposeMode::Profile>(&unbox<ComposeMode>(self).value);
}

PyObject* compose_mode_file(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"template_path", nullptr};
        PyObject* template_path = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:file", const_cast<char**>(keywords),
                                         &template_path)) {
            return nullptr;
        }
        auto text = coerce_path_like(template_path);
        if (!text) {
            return nullptr;
        }
        return wrap_compose_mode(ComposeMode::file(std::filesystem::path(std::move(*text))));
    });
}

PyObject* compose_mode_profile(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"kind", "name", nullptr};
        PyObject* kind = nullptr;
        PyObject* name = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:profile", const_cast<char**>(keywords), &kind,
                                         &name)) {
            return nullptr;
        }
        const auto parsed_kind = parse_profile_kind(kind, "kind");
        if (!parsed_kind) {
            return nullptr;
        }
        auto profile_name = extract_profile_name(name);
        if (!profile_name) {
            return nullptr;
        }
        return wrap_compose_mode(ComposeMode::profile(*parsed_kind, std::move(*profile_name)));
    });
}

PyObject* get_kind(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto* profile = profile_of(self);
        return profile ? to_py_str(composer::as_str(profile->kind)) : Py_NewRef(Py_None);
    });
}

PyObject* get_name(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto* profile = profile_of(self);
        return profile ? to_py_str(profile->name.as_str()) : Py_NewRef(Py_None);
    });
}

PyObject* get_template_path(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto* file = std::get_if<ComposeMode::File>(&unbox<ComposeMode>(self).value);
        return file ? to_py_str(composer::path_display(file->template_path)) : Py_NewRef(Py_None);
    });
}

PyObject* compose_mode_repr_slot(PyObject* self) {
    return guarded([&] { return to_py_str(compose_mode_repr(unbox<ComposeMode>(self))); });
}

PyMethodDef kMethods[] = {
    {"file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compose_mode_file)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, "file(template_path)\n--\n\n"},
    {"profile", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compose_mode_profile)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, "profile(kind, name)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kGetters[] = {
    {"kind", get_kind, nullptr, nullptr, nullptr},
    {"name", get_name, nullptr, nullptr, nullptr},
    {"template_path", get_template_path, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_compose_mode_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ComposeMode>)},
        {Py_tp_repr, reinterpret_cast<void*>(compose_mode_repr_slot)},
        {Py_tp_methods, kMethods},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ComposeMode",
        static_cast<int>(sizeof(Boxed<ComposeMode>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* compose_mode_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_compose_mode_type);
}

PyObject* wrap_compose_mode(const ComposeMode& mode) {
    return box(compose_mode_type(), mode);
}

const ComposeMode* unwrap_compose_mode(PyObject* object) {
    return unbox_if<ComposeMode>(object, compose_mode_type());
}

std::string compose_mode_repr(const ComposeMode& mode) {
    if (const auto* profile = std::get_if<ComposeMode::Profile>(&mode.value)) {
        return "ComposeMode.profile(kind=" + python_quote(composer::as_str(profile->kind)) +
               ", name=" + python_quote(profile->name.as_str()) + ")";
    }
    return "ComposeMode.file(" + debug_quote_path(std::get<ComposeMode::File>(mode.value).template_path) +
           ")";
}

}  // namespace zelk::python
