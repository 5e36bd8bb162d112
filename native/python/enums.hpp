#pragma once
// The constant classes (RuntimeKind, ProfileKind, ...) and the parsing of callers' strings into
// the core's closed vocabularies.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string_view>

#include "composer/extract/format.hpp"
#include "composer/types/request.hpp"

namespace zelk::python {

/// Adds the seven constant classes to `module` in their fixed order (RuntimeKind, ProfileKind,
/// UnknownVariablePolicy, JsonEscapeMode, VariableSource, DiagnosticSeverity, DiagnosticCode);
/// -1 with an exception set on failure.
int register_enums(PyObject* module);

/// The profile kind named by `value`, which must be a str (TypeError naming `parameter`
/// otherwise); ZelkConfigError "unknown profile kind: {text}" for any other text.
std::optional<composer::ProfileKind> parse_profile_kind(PyObject* value, const char* parameter);

/// The runtime named by `value`, which must be a str (TypeError naming `parameter` otherwise);
/// ZelkConfigError "unknown runtime kind: {text}" for any other text.
std::optional<composer::RuntimeKind> parse_runtime_kind(PyObject* value, const char* parameter);

/// "error", "warn" or "ignore"; ZelkConfigError "unknown unknown-variable policy: {text}" otherwise.
std::optional<composer::UnknownVariablePolicy> parse_unknown_variable_policy(std::string_view text);

/// "legacy" or "auto"; ZelkConfigError "unknown JSON escape mode: {text}" otherwise.
std::optional<composer::JsonEscapeMode> parse_json_escape_mode(std::string_view text);

/// "xml", "json", "yaml", "toml" or "raw"; otherwise ZelkConfigError with code
/// "ERR_EXTRACT_FORMAT_UNSUPPORTED" and a recovery hint naming the accepted formats.
std::optional<composer::ExtractFormat> parse_extract_format(std::string_view text);

}  // namespace zelk::python
