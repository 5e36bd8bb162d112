#include "python/types/compose_result.hpp"

#include <utility>

#include "composer/utf8.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/py_ref.hpp"
#include "python/types/diagnostic.hpp"
#include "python/types/resolve_result.hpp"

namespace zelk::python {
namespace {

using composer::ComposeResult;

const ComposeResult& held(PyObject* self) {
    return unbox<ComposeResult>(self);
}

PyObject* get_rendered_text(PyObject* self, void*) {
    return guarded([&] { return to_py_str(held(self).rendered_text); });
}

PyObject* get_resolve_result(PyObject* self, void*) {
    return guarded([&] { return wrap_resolve_result(held(self).resolve_result); });
}

PyObject* get_resolved_files(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto& files = held(self).resolved_files;
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(files.size())));
        if (!list) {
            return nullptr;
        }
        for (std::size_t i = 0; i < files.size(); ++i) {
            PyObject* text = to_py_str(composer::path_display(files[i]));
            if (text == nullptr) {
                return nullptr;
            }
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);
        }
        return list.release();
    });
}

PyObject* get_variable_sources(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        PyRef dict = PyRef::steal(PyDict_New());
        if (!dict) {
            return nullptr;
        }
        for (const auto& [name, source] : held(self).variable_sources) {
            PyRef key = PyRef::steal(to_py_str(name.as_str()));
            PyRef value = PyRef::steal(to_py_str(as_str(source)));
            if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) {
                return nullptr;
            }
        }
        return dict.release();
    });
}

PyObject* get_warnings(PyObject* self, void*) {
    return guarded([&] { return diagnostic_list(held(self).warnings); });
}

PyObject* get_composition_sha256(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto& fingerprint = held(self).composition_sha256;
        if (!fingerprint) {
            Py_RETURN_NONE;
        }
        return to_py_str(fingerprint->composition_sha256.to_hex());
    });
}

PyGetSetDef kGetters[] = {
    {"rendered_text", get_rendered_text, nullptr, nullptr, nullptr},
    {"resolve_result", get_resolve_result, nullptr, nullptr, nullptr},
    {"resolved_files", get_resolved_files, nullptr, nullptr, nullptr},
    {"variable_sources", get_variable_sources, nullptr, nullptr, nullptr},
    {"warnings", get_warnings, nullptr, nullptr, nullptr},
    {"composition_sha256", get_composition_sha256, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_compose_result_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ComposeResult>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ComposeResult",
        static_cast<int>(sizeof(Boxed<ComposeResult>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* compose_result_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_compose_result_type);
}

PyObject* wrap_compose_result(ComposeResult result) {
    return box(compose_result_type(), std::move(result));
}

}  // namespace zelk::python
