// The extension module zelk_compose._native: one execution step that registers everything in a
// fixed order. Classes are process-wide and created on first use, so the module keeps no state.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "composer/validation/builtins.hpp"
#include "python/compose_functions.hpp"
#include "python/enums.hpp"
#include "python/errors.hpp"
#include "python/expand_includes.hpp"
#include "python/functions.hpp"
#include "python/functions_documents.hpp"
#include "python/py_ref.hpp"
#include "python/render_functions.hpp"
#include "python/resolve_functions.hpp"
#include "python/types/compose_mode.hpp"
#include "python/types/compose_policy.hpp"
#include "python/types/compose_request.hpp"
#include "python/types/compose_result.hpp"
#include "python/types/confining_root.hpp"
#include "python/types/diagnostic.hpp"
#include "python/types/expanded_template.hpp"
#include "python/types/frontmatter.hpp"
#include "python/types/loaded_template_request.hpp"
#include "python/types/named_template_asset.hpp"
#include "python/types/names.hpp"
#include "python/types/parsed_template.hpp"
#include "python/types/pass_config.hpp"
#include "python/types/rendered_artifact.hpp"
#include "python/types/renderer.hpp"
#include "python/types/resolve_result.hpp"
#include "python/types/resolver_policy.hpp"
#include "python/types/validation_report.hpp"
#include "python/types/verify_result.hpp"
#include "python/validate_function.hpp"

namespace zelk::python {
namespace {

using ClassGetter = PyTypeObject* (*)();

// One entry per line, so that each class or function is inserted at its own place.
// clang-format off

// The record and result classes, in registration order; each entry's place is fixed.
constexpr ClassGetter kClasses[] = {
    variable_name_type,
    profile_name_type,
    confining_root_type,
    resolver_policy_type,
    compose_mode_type,
    compose_policy_type,
    pass_config_type,
    compose_request_type,
    diagnostic_type,
    resolve_result_type,
    compose_result_type,
    validation_report_type,
    verify_result_type,
    named_template_asset_type,
    loaded_template_request_type,
    rendered_artifact_type,
    frontmatter_type,
    parsed_template_type,
    expanded_template_type,
    renderer_type,
};

// The module functions, in registration order; each entry's place is fixed.
PyMethodDef* const kFunctions[] = {
    &compose_def,
    &compose_file_def,
    &validate_def,
    &resolve_template_path_def,
    &resolve_profile_def,
    &render_template_def,
    &render_loaded_template_def,
    &parse_template_document_def,
    &render_all_def,
    &verify_def,
    &expand_includes_def,
    &validate_input_value_def,
    &input_value_from_yaml_def,
    &to_forward_slash_def,
    &discover_tokens_def,
    &discover_tokens_with_brace_count_def,
    &discover_all_pass_tokens_def,
};

// clang-format on

int add_builtin_variable_names(PyObject* module) {
    PyRef names = PyRef::steal(PyList_New(0));
    if (!names) {
        return -1;
    }
    for (const std::string_view name : composer::kBuiltinVariableNames) {
        PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(name.data(), std::ssize(name)));
        if (!text || PyList_Append(names.get(), text.get()) < 0) {
            return -1;
        }
    }
    return PyModule_AddObjectRef(module, "BUILTIN_VARIABLE_NAMES", names.get());
}

int add_classes(PyObject* module) {
    for (const ClassGetter getter : kClasses) {
        PyTypeObject* type = getter();
        if (type == nullptr) {
            return -1;
        }
        if (PyModule_AddObjectRef(module, _PyType_Name(type), reinterpret_cast<PyObject*>(type)) < 0) {
            return -1;
        }
    }
    return 0;
}

int add_functions(PyObject* module) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) {
        return -1;
    }
    for (PyMethodDef* def : kFunctions) {
        // Bound to the module: __self__ is the module, __module__ its imported name.
        PyRef function = PyRef::steal(PyCFunction_NewEx(def, module, module_name.get()));
        if (!function || PyModule_AddObjectRef(module, def->ml_name, function.get()) < 0) {
            return -1;
        }
    }
    return 0;
}

int exec_module(PyObject* module) {
    // The classes are shared by the whole process; a subinterpreter must not see them.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, "zelk_compose._native cannot be imported in a subinterpreter");
        return -1;
    }
    using Step = int (*)(PyObject*);
    // The constant classes register between the exceptions and the record classes.
    // clang-format off
    static constexpr Step kSteps[] = {
        add_builtin_variable_names,
        register_exceptions,
        register_enums,
        add_classes,
        add_functions,
    };
    // clang-format on
    for (const Step step : kSteps) {
        if (step(module) < 0) {
            return -1;
        }
    }
    return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "_native", "", 0, nullptr, kSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace zelk::python

PyMODINIT_FUNC PyInit__native() {
    return PyModuleDef_Init(&zelk::python::kModule);
}
