#include "python/types/confining_root.hpp"

#include <string>
#include <utility>

#include "composer/error/source.hpp"
#include "composer/path_containment.hpp"
#include "composer/resolver.hpp"
#include "composer/utf8.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"

namespace zelk::python {
namespace {

using composer::ConfiningRoot;

PyObject* confining_root_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"path", nullptr};
        PyObject* path = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:ConfiningRoot", const_cast<char**>(keywords),
                                         &path)) {
            return nullptr;
        }
        const auto text = coerce_path_like(path);
        if (!text) {
            return nullptr;
        }
        auto canonical = canonicalize_root(*text);
        if (!canonical) {
            return nullptr;
        }
        return box(type, ConfiningRoot{std::move(*canonical)});
    });
}

PyObject* confining_root_str(PyObject* self) {
    return guarded([&] { return to_py_str(composer::path_display(unbox<ConfiningRoot>(self).path)); });
}

PyObject* confining_root_confine(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"candidate", nullptr};
        PyObject* candidate = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:confine", const_cast<char**>(keywords),
                                         &candidate)) {
            return nullptr;
        }
        const auto text = coerce_path_like(candidate);
        if (!text) {
            return nullptr;
        }
        composer::ComposeRequest request;
        request.root = unbox<ConfiningRoot>(self).path;
        request.mode = composer::ComposeMode::file(std::filesystem::path(*text));
        auto resolved = composer::resolve_template_path(request);
        if (!resolved) {
            return raise_compose_error(resolved.error());
        }
        return to_py_str(composer::path_display(resolved->resolved_path));
    });
}

PyMethodDef kMethods[] = {
    {"confine", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(confining_root_confine)),
     METH_VARARGS | METH_KEYWORDS, "confine($self, candidate)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject* create_confining_root_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("ConfiningRoot(path)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(confining_root_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ConfiningRoot>)},
        {Py_tp_str, reinterpret_cast<void*>(confining_root_str)},
        {Py_tp_methods, kMethods},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ConfiningRoot",
        static_cast<int>(sizeof(Boxed<ConfiningRoot>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* confining_root_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_confining_root_type);
}

const ConfiningRoot* unwrap_confining_root(PyObject* object) {
    return unbox_if<ConfiningRoot>(object, confining_root_type());
}

std::optional<std::filesystem::path> canonicalize_root(std::string_view path_text) {
    auto canonical = composer::canonical_path(std::filesystem::path(path_text));
    if (!canonical) {
        raise_config_error(composer::make_source(canonical.error())->display(),
                           composer::as_str(composer::DiagnosticCode::ErrConfigParse));
        return std::nullopt;
    }
    return std::move(*canonical);
}

}  // namespace zelk::python
