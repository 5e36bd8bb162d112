#pragma once
// Collection extractors: Python arguments turned into the core's maps and lists, with their
// fixed order of checks and messages. An argument is absent when it is nullptr or None. Each
// returns nullopt with a Python exception set on failure.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <vector>

#include "composer/composer.hpp"
#include "composer/renderer.hpp"
#include "composer/types/input_value.hpp"
#include "composer/types/request.hpp"

namespace zelk::python {

/// A dict of variable values: keys must be str and valid variable names, values pass
/// `validated_input_value`. Absent gives an empty map.
std::optional<composer::VariableMap> extract_var_map(PyObject* value);

/// A dict of metadata: keys must be str (no name rules), values through `py_to_json_value`.
/// Absent gives an empty map.
std::optional<composer::MetadataMap> extract_metadata_map(PyObject* value);

/// An iterable of ConfiningRoot instances (taken unchanged) or path-likes (canonicalised on
/// the file system; failure is ZelkConfigError "ERR_CONFIG_PARSE"). Absent gives an empty list.
std::optional<std::vector<composer::ConfiningRoot>> extract_allowed_roots(PyObject* value);

/// An iterable of PassConfig instances, copied. Absent gives an empty list.
std::optional<std::vector<composer::PassConfig>> extract_pass_configs(PyObject* value);

/// An iterable of (pass_number, variables) tuples; pass numbers 0 to 255, variables a dict
/// (None is refused here).
std::optional<std::vector<composer::RenderContext>> extract_pass_contexts(PyObject* value);

/// An iterable of str or VariableName, in order, duplicates kept. Absent gives an empty list.
std::optional<std::vector<composer::VariableName>> extract_variable_names(PyObject* value);

/// A ProfileName instance, or a str that is a valid profile name (ZelkConfigError
/// "ERR_CONFIG_MODE" otherwise; TypeError for anything else).
std::optional<composer::ProfileName> extract_profile_name(PyObject* value);

/// An iterable of NamedTemplateAsset instances, copied (TypeError for anything else). Absent
/// gives an empty list.
std::optional<std::vector<composer::NamedTemplateAsset>> extract_supporting_templates(PyObject* value);

}  // namespace zelk::python
