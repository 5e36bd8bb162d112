#include "python/types/compose_policy.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "composer/utf8.hpp"
#include "python/args.hpp"
#include "python/convert/maps.hpp"
#include "python/enums.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/py_ref.hpp"
#include "python/quoting.hpp"
#include "python/types/pass_config.hpp"
#include "python/types/resolver_policy.hpp"

namespace zelk::python {
namespace {

using composer::ComposePolicy;

bool is_none_or_null(PyObject* value) {
    return value == nullptr || value == Py_None;
}

// A str argument, or nullopt-in-optional for None; the outer nullopt means an exception is set.
std::optional<std::optional<std::string>> optional_str_argument(PyObject* value, const char* parameter) {
    if (is_none_or_null(value)) {
        return std::optional<std::string>{};
    }
    auto text = str_argument(value, parameter);
    if (!text) {
        return std::nullopt;
    }
    return std::optional<std::string>{std::move(*text)};
}

std::optional<bool> bool_argument(PyObject* value, const char* parameter) {
    if (!PyBool_Check(value)) {
        PyErr_Format(PyExc_TypeError, "argument '%s' must be bool, not %.200s", parameter,
                     Py_TYPE(value)->tp_name);
        return std::nullopt;
    }
    return value == Py_True;
}

std::optional<std::uint16_t> u16_argument(PyObject* value, const char* parameter) {
    const auto wide = u64_argument(value, parameter);
    if (!wide) {
        return std::nullopt;
    }
    if (*wide > 0xFFFF) {
        PyErr_Format(PyExc_OverflowError, "argument '%s' must be between 0 and 65535", parameter);
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*wide);
}

PyObject* compose_policy_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"strict_undeclared_variables",
                                         "unknown_variable_policy",
                                         "unbound_variable_policy",
                                         "max_include_depth",
                                         "allowed_roots",
                                         "passes",
                                         "json_escape_mode",
                                         nullptr};
        PyObject* strict = nullptr;
        PyObject* unknown = nullptr;
        PyObject* unbound = nullptr;
        PyObject* depth = nullptr;
        PyObject* allowed_roots = nullptr;
        PyObject* passes = nullptr;
        PyObject* json_escape_mode = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOOOOO:ComposePolicy", const_cast<char**>(keywords),
                                         &strict, &unknown, &unbound, &depth, &allowed_roots, &passes,
                                         &json_escape_mode)) {
            return nullptr;
        }
        ComposePolicy policy;
        // Argument types first, in parameter order; parsing of the texts follows.
        if (strict != nullptr) {
            const auto flag = bool_argument(strict, "strict_undeclared_variables");
            if (!flag) {
                return nullptr;
            }
            policy.strict_undeclared_variables = *flag;
        }
        std::string unknown_text = "ignore";
        if (unknown != nullptr) {
            auto text = str_argument(unknown, "unknown_variable_policy");
            if (!text) {
                return nullptr;
            }
            unknown_text = std::move(*text);
        }
        const auto unbound_text = optional_str_argument(unbound, "unbound_variable_policy");
        if (!unbound_text) {
            return nullptr;
        }
        if (depth != nullptr) {
            const auto value = u16_argument(depth, "max_include_depth");
            if (!value) {
                return nullptr;
            }
            policy.max_include_depth = *value;
        }
        const auto mode_text = optional_str_argument(json_escape_mode, "json_escape_mode");
        if (!mode_text) {
            return nullptr;
        }

        const auto unknown_policy = parse_unknown_variable_policy(unknown_text);
        if (!unknown_policy) {
            return nullptr;
        }
        policy.unknown_variable_policy = *unknown_policy;
        if (*unbound_text) {
            const auto unbound_policy = parse_unknown_variable_policy(**unbound_text);
            if (!unbound_policy) {
                return nullptr;
            }
            policy.unbound_variable_policy = *unbound_policy;
        }
        auto roots = extract_allowed_roots(allowed_roots);
        if (!roots) {
            return nullptr;
        }
        policy.allowed_roots = std::move(*roots);
        auto pass_configs = extract_pass_configs(passes);
        if (!pass_configs) {
            return nullptr;
        }
        policy.passes = std::move(*pass_configs);
        if (*mode_text) {
            const auto mode = parse_json_escape_mode(**mode_text);
            if (!mode) {
                return nullptr;
            }
            policy.json_escape_mode = *mode;
        }
        return box(type, std::move(policy));
    });
}

const ComposePolicy& policy_of(PyObject* self) {
    return unbox<ComposePolicy>(self);
}

PyObject* get_strict_undeclared_variables(PyObject* self, void*) {
    return PyBool_FromLong(policy_of(self).strict_undeclared_variables ? 1 : 0);
}

PyObject* get_unknown_variable_policy(PyObject* self, void*) {
    return guarded([&] { return to_py_str(composer::as_str(policy_of(self).unknown_variable_policy)); });
}

PyObject* get_unbound_variable_policy(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto& policy = policy_of(self).unbound_variable_policy;
        return policy ? to_py_str(composer::as_str(*policy)) : Py_NewRef(Py_None);
    });
}

PyObject* get_max_include_depth(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(policy_of(self).max_include_depth);
}

PyObject* get_allowed_roots(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto& roots = policy_of(self).allowed_roots;
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(roots.size())));
        if (!list) {
            return nullptr;
        }
        for (std::size_t i = 0; i < roots.size(); ++i) {
            PyObject* text = to_py_str(composer::path_display(roots[i].path));
            if (text == nullptr) {
                return nullptr;
            }
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);
        }
        return list.release();
    });
}

PyObject* get_resolver_policy(PyObject* self, void*) {
    return guarded([&] { return wrap_resolver_policy(policy_of(self).resolver_policy); });
}

PyObject* get_passes(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto& passes = policy_of(self).passes;
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(passes.size())));
        if (!list) {
            return nullptr;
        }
        for (std::size_t i = 0; i < passes.size(); ++i) {
            PyObject* pass = wrap_pass_config(passes[i]);
            if (pass == nullptr) {
                return nullptr;
            }
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pass);
        }
        return list.release();
    });
}

PyObject* get_json_escape_mode(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto& mode = policy_of(self).json_escape_mode;
        return mode ? to_py_str(composer::as_str(*mode)) : Py_NewRef(Py_None);
    });
}

PyObject* compose_policy_repr_slot(PyObject* self) {
    return guarded([&] { return to_py_str(compose_policy_repr(policy_of(self))); });
}

PyGetSetDef kGetters[] = {
    {"strict_undeclared_variables", get_strict_undeclared_variables, nullptr, nullptr, nullptr},
    {"unknown_variable_policy", get_unknown_variable_policy, nullptr, nullptr, nullptr},
    {"unbound_variable_policy", get_unbound_variable_policy, nullptr, nullptr, nullptr},
    {"max_include_depth", get_max_include_depth, nullptr, nullptr, nullptr},
    {"allowed_roots", get_allowed_roots, nullptr, nullptr, nullptr},
    {"resolver_policy", get_resolver_policy, nullptr, nullptr, nullptr},
    {"passes", get_passes, nullptr, nullptr, nullptr},
    {"json_escape_mode", get_json_escape_mode, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_compose_policy_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("ComposePolicy(strict_undeclared_variables=False, "
                                      "unknown_variable_policy=\"ignore\", unbound_variable_policy=None, "
                                      "max_include_depth=32, allowed_roots=None, passes=None, "
                                      "json_escape_mode=None)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(compose_policy_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ComposePolicy>)},
        {Py_tp_repr, reinterpret_cast<void*>(compose_policy_repr_slot)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ComposePolicy",
        static_cast<int>(sizeof(Boxed<ComposePolicy>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* compose_policy_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_compose_policy_type);
}

PyObject* wrap_compose_policy(const ComposePolicy& policy) {
    return box(compose_policy_type(), policy);
}

const ComposePolicy* unwrap_compose_policy(PyObject* object) {
    return unbox_if<ComposePolicy>(object, compose_policy_type());
}

std::string compose_policy_repr(const ComposePolicy& policy) {
    std::string roots;
    for (const auto& root : policy.allowed_roots) {
        if (!roots.empty()) {
            roots += ", ";
        }
        roots += debug_quote_path(root.path);
    }
    const std::string unbound = policy.unbound_variable_policy
                                    ? python_quote(composer::as_str(*policy.unbound_variable_policy))
                                    : "None";
    const std::string_view mode =
        policy.json_escape_mode ? composer::as_str(*policy.json_escape_mode) : "None";
    return fmt::format(
        "ComposePolicy(strict_undeclared_variables={}, unknown_variable_policy={}, "
        "unbound_variable_policy={}, "
        "max_include_depth={}, allowed_roots=[{}], resolver_policy={}, passes={}, json_escape_mode={})",
        policy.strict_undeclared_variables ? "True" : "False",
        python_quote(composer::as_str(policy.unknown_variable_policy)), unbound, policy.max_include_depth,
        roots, resolver_policy_repr(policy.resolver_policy), policy.passes.size(), mode);
}

}  // namespace zelk::python
