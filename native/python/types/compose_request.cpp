#include "python/types/compose_request.hpp"

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
#include "python/quoting.hpp"
#include "python/types/compose_mode.hpp"
#include "python/types/compose_policy.hpp"
#include "python/types/confining_root.hpp"

namespace zelk::python {
namespace {

using composer::ComposeRequest;

bool is_absent(PyObject* value) {
    return value == nullptr || value == Py_None;
}

// An optional str argument: false with TypeError set when it is neither None nor a str.
bool optional_text(PyObject* value, const char* parameter, std::optional<std::string>& out) {
    if (is_absent(value)) {
        return true;
    }
    auto text = str_argument(value, parameter);
    if (!text) {
        return false;
    }
    out = std::move(*text);
    return true;
}

PyObject* compose_request_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"root",          "mode",           "vars_input",  "vars_env",
                                         "vars_defaults", "guidance_block", "user_prompt", "policy",
                                         "runtime",       nullptr};
        PyObject* root = nullptr;
        PyObject* mode = nullptr;
        PyObject* vars_input = nullptr;
        PyObject* vars_env = nullptr;
        PyObject* vars_defaults = nullptr;
        PyObject* guidance_block = nullptr;
        PyObject* user_prompt = nullptr;
        PyObject* policy = nullptr;
        PyObject* runtime = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OOOOOOO:ComposeRequest",
                                         const_cast<char**>(keywords), &root, &mode, &vars_input, &vars_env,
                                         &vars_defaults, &guidance_block, &user_prompt, &policy, &runtime)) {
            return nullptr;
        }
        const auto* core_mode = unwrap_compose_mode(mode);
        if (core_mode == nullptr) {
            PyErr_Format(PyExc_TypeError, "argument 'mode' must be ComposeMode, not %.200s",
                         Py_TYPE(mode)->tp_name);
            return nullptr;
        }
        const composer::ComposePolicy* core_policy = nullptr;
        if (!is_absent(policy)) {
            core_policy = unwrap_compose_policy(policy);
            if (core_policy == nullptr) {
                PyErr_Format(PyExc_TypeError, "argument 'policy' must be ComposePolicy or None, not %.200s",
                             Py_TYPE(policy)->tp_name);
                return nullptr;
            }
        }
        ComposeRequest request;
        if (!optional_text(guidance_block, "guidance_block", request.guidance_block) ||
            !optional_text(user_prompt, "user_prompt", request.user_prompt)) {
            return nullptr;
        }
        const auto root_text = coerce_path_like(root);
        if (!root_text) {
            return nullptr;
        }
        if (!is_absent(runtime)) {
            const auto kind = parse_runtime_kind(runtime, "runtime");
            if (!kind) {
                return nullptr;
            }
            request.runtime = *kind;
        }
        request.mode = *core_mode;
        auto canonical_root = canonicalize_root(*root_text);
        if (!canonical_root) {
            return nullptr;
        }
        request.root = std::move(*canonical_root);
        for (auto [value, target] :
             {std::pair{vars_input, &request.vars_input}, std::pair{vars_env, &request.vars_env},
              std::pair{vars_defaults, &request.vars_defaults}}) {
            auto map = extract_var_map(value);
            if (!map) {
                return nullptr;
            }
            *target = std::move(*map);
        }
        if (core_policy != nullptr) {
            request.policy = *core_policy;
        }
        return box(type, std::move(request));
    });
}

const ComposeRequest& request_of(PyObject* self) {
    return unbox<ComposeRequest>(self);
}

PyObject* get_root(PyObject* self, void*) {
    return guarded([&] { return to_py_str(composer::path_display(request_of(self).root)); });
}

PyObject* get_mode(PyObject* self, void*) {
    return guarded([&] { return wrap_compose_mode(request_of(self).mode); });
}

PyObject* get_policy(PyObject* self, void*) {
    return guarded([&] { return wrap_compose_policy(request_of(self).policy); });
}

PyObject* get_runtime(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const auto& runtime = request_of(self).runtime;
        return runtime ? to_py_str(composer::as_str(*runtime)) : Py_NewRef(Py_None);
    });
}

PyObject* compose_request_repr(PyObject* self) {
    return guarded([&] {
        const ComposeRequest& request = request_of(self);
        const std::string runtime =
            request.runtime ? python_quote(composer::as_str(*request.runtime)) : "None";
        return to_py_str(fmt::format(
            "ComposeRequest(root={}, mode={}, runtime={}, vars_input={}, vars_env={}, vars_defaults={}, "
            "guidance_block={}, user_prompt={}, policy={})",
            debug_quote_path(request.root), compose_mode_repr(request.mode), runtime,
            request.vars_input.size(), request.vars_env.size(), request.vars_defaults.size(),
            request.guidance_block ? "True" : "False", request.user_prompt ? "True" : "False",
            compose_policy_repr(request.policy)));
    });
}

PyGetSetDef kGetters[] = {
    {"root", get_root, nullptr, nullptr, nullptr},     {"mode", get_mode, nullptr, nullptr, nullptr},
    {"policy", get_policy, nullptr, nullptr, nullptr}, {"runtime", get_runtime, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_compose_request_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc,
         const_cast<char*>("ComposeRequest(root, mode, vars_input=None, vars_env=None, "
                           "vars_defaults=None, guidance_block=None, user_prompt=None, policy=None, "
                           "runtime=None)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(compose_request_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ComposeRequest>)},
        {Py_tp_repr, reinterpret_cast<void*>(compose_request_repr)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ComposeRequest",
        static_cast<int>(sizeof(Boxed<ComposeRequest>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* compose_request_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_compose_request_type);
}

const ComposeRequest* unwrap_compose_request(PyObject* object) {
    return unbox_if<ComposeRequest>(object, compose_request_type());
}

}  // namespace zelk::python
