#pragma once
// The class ConfiningRoot: a canonical root directory within which template paths must stay.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <filesystem>
#include <optional>
#include <string_view>

#include "composer/types/request.hpp"

namespace zelk::python {

/// The class `ConfiningRoot` (created on first use).
PyTypeObject* confining_root_type();

/// The root held by a `ConfiningRoot` instance, or nullptr when `object` is not one.
const composer::ConfiningRoot* unwrap_confining_root(PyObject* object);

/// The canonical form of a root directory given by a caller (absolute, symbolic links resolved,
/// must exist). On failure raises ZelkConfigError with the operating system's error text and
/// code "ERR_CONFIG_PARSE", and returns nullopt.
std::optional<std::filesystem::path> canonicalize_root(std::string_view path_text);

}  // namespace zelk::python
