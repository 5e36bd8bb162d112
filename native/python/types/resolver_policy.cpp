#include "python/types/resolver_policy.hpp"

#include <fmt/format.h>

#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"

namespace zelk::python {
namespace {

using composer::ResolverPolicy;

PyObject* resolver_policy_repr_slot(PyObject* self) {
    return guarded([&] { return to_py_str(resolver_policy_repr(unbox<ResolverPolicy>(self))); });
}

PyTypeObject* create_resolver_policy_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ResolverPolicy>)},
        {Py_tp_repr, reinterpret_cast<void*>(resolver_policy_repr_slot)},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ResolverPolicy",
        static_cast<int>(sizeof(Boxed<ResolverPolicy>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* resolver_policy_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_resolver_policy_type);
}

PyObject* wrap_resolver_policy(const ResolverPolicy& policy) {
    return box(resolver_policy_type(), policy);
}

std::string resolver_policy_repr(const ResolverPolicy& policy) {
    return fmt::format(
        "ResolverPolicy(candidate_directories={}, filename_probes={}, ambiguous_without_runtime_is_error={})",
        policy.candidate_directories.size(), policy.filename_probes.size(),
        policy.ambiguous_without_runtime_is_error);
}

}  // namespace zelk::python
