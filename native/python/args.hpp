#pragma once
// Argument binding and conversion shared by the module's functions and constructors.
// Every helper returns an empty value (or nullptr) with a Python exception set on failure.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelk::python {

/// `value` (borrowed) if it is a dict or dict subclass; otherwise ZelkValidationError(message).
PyObject* expect_dict(PyObject* value, std::string_view message);

/// The key's text if it is a str (or subclass); otherwise ZelkValidationError(message), the
/// underlying conversion error discarded.
std::optional<std::string> extract_string_key(PyObject* key, std::string_view message);

/// `os.fspath(value)`, which must give a str, as UTF-8 text. Errors propagate unchanged
/// (TypeError for bytes paths and non-path objects).
std::optional<std::string> coerce_path_like(PyObject* value);

/// A str argument as UTF-8 text; TypeError naming `parameter` otherwise.
std::optional<std::string> str_argument(PyObject* value, const char* parameter);

/// A non-negative int argument (anything with __index__); TypeError naming `parameter` for other
/// types and the interpreter's OverflowError for negative or too large values.
std::optional<std::uint64_t> u64_argument(PyObject* value, const char* parameter);

/// A new str from UTF-8 text (invalid bytes replaced; the core only produces valid UTF-8).
PyObject* to_py_str(std::string_view text);

}  // namespace zelk::python
