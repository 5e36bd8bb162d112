#include "python/expand_includes.hpp"

#include <filesystem>
#include <system_error>

#include "composer/include/expansion.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/types/compose_policy.hpp"
#include "python/types/expanded_template.hpp"

namespace zelk::python {
namespace {

PyObject* py_expand_includes(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"template_path", "root", "policy", nullptr};
        PyObject* template_path = nullptr;
        PyObject* root = nullptr;
        PyObject* policy = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:expand_includes", const_cast<char**>(keywords),
                                         &template_path, &root, &policy)) {
            return nullptr;
        }
        const composer::ComposePolicy* given = nullptr;
        if (policy != Py_None) {
            given = unwrap_compose_policy(policy);
            if (given == nullptr) {
                return PyErr_Format(PyExc_TypeError,
                                    "argument 'policy' must be ComposePolicy or None, not %.200s",
                                    Py_TYPE(policy)->tp_name);
            }
        }
        const auto template_text = coerce_path_like(template_path);
        if (!template_text) {
            return nullptr;
        }
        const auto root_text = coerce_path_like(root);
        if (!root_text) {
            return nullptr;
        }
        std::error_code error;
        const std::filesystem::path canonical_root = std::filesystem::canonical(*root_text, error);
        if (error) {
            return raise_config_error(composer::make_source(error)->display(),
                                      composer::as_str(composer::DiagnosticCode::ErrConfigParse));
        }
        const composer::ComposePolicy policy_copy = given != nullptr ? *given : composer::ComposePolicy{};
        auto expanded =
            composer::expand_includes(std::filesystem::path(*template_text), canonical_root, policy_copy);
        if (!expanded) {
            return raise_compose_error(expanded.error());
        }
        return wrap_expanded_template(std::move(*expanded));
    });
}

}  // namespace

PyMethodDef expand_includes_def = {
    "expand_includes",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_expand_includes)),
    METH_VARARGS | METH_KEYWORDS,
    "expand_includes(template_path, root, policy=None)\n--\n\n",
};

}  // namespace zelk::python
