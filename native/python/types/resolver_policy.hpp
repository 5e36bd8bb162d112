#pragma once
// The class ResolverPolicy: the read-only resolver part of a ComposePolicy.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "composer/types/request.hpp"

namespace zelk::python {

/// The class `ResolverPolicy` (created on first use).
PyTypeObject* resolver_policy_type();

/// A new `ResolverPolicy` instance holding a copy of `policy`; nullptr with an exception set.
PyObject* wrap_resolver_policy(const composer::ResolverPolicy& policy);

/// "ResolverPolicy(candidate_directories={n}, filename_probes={n},
/// ambiguous_without_runtime_is_error={true|false})".
std::string resolver_policy_repr(const composer::ResolverPolicy& policy);

}  // namespace zelk::python
