#include "python/types/resolve_result.hpp"

#include <filesystem>
#include <utility>
#include <vector>

#include "composer/utf8.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/py_ref.hpp"

namespace zelk::python {
namespace {

using composer::ResolveResult;

PyObject* path_text_list(const std::vector<std::filesystem::path>& paths) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(paths.size())));
    if (!list) {
        return nullptr;
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        PyObject* text = to_py_str(composer::path_display(paths[i]));
        if (text == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);
    }
    return list.release();
}

PyObject* get_resolved_path(PyObject* self, void*) {
    return guarded(
        [&] { return to_py_str(composer::path_display(unbox<ResolveResult>(self).resolved_path)); });
}

PyObject* get_attempted_paths(PyObject* self, void*) {
    return guarded([&] { return path_text_list(unbox<ResolveResult>(self).attempted_paths); });
}

PyObject* get_ambiguity_candidates(PyObject* self, void*) {
    return guarded([&] { return path_text_list(unbox<ResolveResult>(self).ambiguity_candidates); });
}

PyGetSetDef kGetters[] = {
    {"resolved_path", get_resolved_path, nullptr, nullptr, nullptr},
    {"attempted_paths", get_attempted_paths, nullptr, nullptr, nullptr},
    {"ambiguity_candidates", get_ambiguity_candidates, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_resolve_result_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ResolveResult>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ResolveResult",
        static_cast<int>(sizeof(Boxed<ResolveResult>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* resolve_result_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_resolve_result_type);
}

PyObject* wrap_resolve_result(ResolveResult result) {
    return box(resolve_result_type(), std::move(result));
}

}  // namespace zelk::python
