#include "python/compose_functions.hpp"

#include <filesystem>
#include <utility>

#include "composer/composer.hpp"
#include "composer/verify.hpp"
#include "python/args.hpp"
#include "python/convert/maps.hpp"
#include "python/errors.hpp"
#include "python/types/compose_request.hpp"
#include "python/types/compose_result.hpp"
#include "python/types/parsed_template.hpp"
#include "python/types/verify_result.hpp"

namespace zelk::python {
namespace {

PyObject* wrong_class(const char* argument, const char* expected, PyObject* given) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be %s, not %.200s", argument, expected,
                 Py_TYPE(given)->tp_name);
    return nullptr;
}

// Both composition entry points: the request's mode decides between file and profile.
PyObject* compose_request(PyObject* args, PyObject* kwargs, const char* format) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"request", nullptr};
        PyObject* request = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &request)) {
            return nullptr;
        }
        const auto* core_request = unwrap_compose_request(request);
        if (core_request == nullptr) {
            return wrong_class("request", "ComposeRequest", request);
        }
        auto result = composer::compose(*core_request);
        if (!result) {
            return raise_compose_error(result.error());
        }
        return wrap_compose_result(std::move(*result));
    });
}

PyObject* py_compose(PyObject*, PyObject* args, PyObject* kwargs) {
    return compose_request(args, kwargs, "O:compose");
}

PyObject* py_compose_file(PyObject*, PyObject* args, PyObject* kwargs) {
    return compose_request(args, kwargs, "O:compose_file");
}

PyObject* py_render_all(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"parsed", "contexts", nullptr};
        PyObject* parsed = nullptr;
        PyObject* contexts = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:render_all", const_cast<char**>(keywords), &parsed,
                                         &contexts)) {
            return nullptr;
        }
        const auto* core_parsed = unwrap_parsed_template(parsed);
        if (core_parsed == nullptr) {
            return wrong_class("parsed", "ParsedTemplate", parsed);
        }
        auto core_contexts = extract_pass_contexts(contexts);
        if (!core_contexts) {
            return nullptr;
        }
        auto text = composer::render_all(*core_parsed, *core_contexts);
        if (!text) {
            return raise_compose_error(text.error());
        }
        return to_py_str(*text);
    });
}

PyObject* py_verify(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"request", "deployed_path", nullptr};
        PyObject* request = nullptr;
        PyObject* deployed_path = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:verify", const_cast<char**>(keywords), &request,
                                         &deployed_path)) {
            return nullptr;
        }
        const auto* core_request = unwrap_compose_request(request);
        if (core_request == nullptr) {
            return wrong_class("request", "ComposeRequest", request);
        }
        auto path_text = coerce_path_like(deployed_path);
        if (!path_text) {
            return nullptr;
        }
        auto result = composer::verify(*core_request, std::filesystem::path(std::move(*path_text)));
        if (!result) {
            return raise_compose_error(result.error());
        }
        return wrap_verify_result(std::move(*result));
    });
}

template <auto Function>
PyCFunction as_cfunction() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

}  // namespace

PyMethodDef compose_def = {
    "compose",
    as_cfunction<py_compose>(),
    METH_VARARGS | METH_KEYWORDS,
    "compose(request)\n--\n\n",
};

PyMethodDef compose_file_def = {
    "compose_file",
    as_cfunction<py_compose_file>(),
    METH_VARARGS | METH_KEYWORDS,
    "compose_file(request)\n--\n\n",
};

PyMethodDef render_all_def = {
    "render_all",
    as_cfunction<py_render_all>(),
    METH_VARARGS | METH_KEYWORDS,
    "render_all(parsed, contexts)\n--\n\n"
    "Render a parsed multi-pass template from fully resolved per-pass contexts.\n"
    "\n"
    "This low-level helper still applies each pass header's frontmatter defaults\n"
    "beneath the caller-supplied per-pass context, matching the native\n"
    "`zelk_composer::render_all()` behavior. Callers that want request/policy\n"
    "resolution, validation, and variable-source tracking should use\n"
    "`compose()` instead.",
};

PyMethodDef verify_def = {
    "verify",
    as_cfunction<py_verify>(),
    METH_VARARGS | METH_KEYWORDS,
    "verify(request, deployed_path)\n--\n\n",
};

}  // namespace zelk::python
