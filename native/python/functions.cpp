#include "python/functions.hpp"

#include "composer/discovery.hpp"
#include "composer/path_utils.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/types/names.hpp"

namespace zelk::python {
namespace {

PyObject* py_to_forward_slash(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"path", nullptr};
        PyObject* path = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:to_forward_slash", const_cast<char**>(keywords),
                                         &path)) {
            return nullptr;
        }
        const auto text = coerce_path_like(path);
        if (!text) {
            return nullptr;
        }
        return to_py_str(composer::to_forward_slash(std::filesystem::path(*text)));
    });
}

PyObject* py_discover_tokens(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"text", nullptr};
        PyObject* text = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:discover_tokens", const_cast<char**>(keywords),
                                         &text)) {
            return nullptr;
        }
        const auto value = str_argument(text, "text");
        if (!value) {
            return nullptr;
        }
        return variable_name_list(composer::discover_tokens(*value));
    });
}

PyObject* py_discover_tokens_with_brace_count(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"text", "brace_count", nullptr};
        PyObject* text = nullptr;
        PyObject* brace_count = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:discover_tokens_with_brace_count",
                                         const_cast<char**>(keywords), &text, &brace_count)) {
            return nullptr;
        }
        const auto value = str_argument(text, "text");
        if (!value) {
            return nullptr;
        }
        const auto count = u64_argument(brace_count, "brace_count");
        if (!count) {
            return nullptr;
        }
        return variable_name_list(composer::discover_tokens_with_brace_count(*value, *count));
    });
}

}  // namespace

PyMethodDef to_forward_slash_def = {
    "to_forward_slash",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_to_forward_slash)),
    METH_VARARGS | METH_KEYWORDS,
    "to_forward_slash(path)\n--\n\n",
};

PyMethodDef discover_tokens_def = {
    "discover_tokens",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_discover_tokens)),
    METH_VARARGS | METH_KEYWORDS,
    "discover_tokens(text)\n--\n\n",
};

PyMethodDef discover_tokens_with_brace_count_def = {
    "discover_tokens_with_brace_count",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_discover_tokens_with_brace_count)),
    METH_VARARGS | METH_KEYWORDS,
    "discover_tokens_with_brace_count(text, brace_count)\n--\n\n",
};

}  // namespace zelk::python
