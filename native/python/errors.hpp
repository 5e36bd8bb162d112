#pragma once
// The module's exception classes and the translation of core errors into them.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "composer/error.hpp"

namespace zelk::python {

/// The common base; subclassable from Python, never raised itself.
PyTypeObject* zelk_compose_error_type();
PyTypeObject* zelk_render_error_type();
PyTypeObject* zelk_validation_error_type();
PyTypeObject* zelk_resolve_error_type();
PyTypeObject* zelk_include_error_type();
PyTypeObject* zelk_config_error_type();
/// Raised for broken internal invariants; derives from BaseException so `except Exception`
/// does not swallow it. Not a module attribute.
PyTypeObject* zelk_internal_failure_type();

/// Adds the six exception classes to `module` in their fixed order; -1 with an exception set on failure.
int register_exceptions(PyObject* module);

/// The optional part of a typed exception.
struct ExceptionDetails {
    std::vector<std::string> recovery_hints;
    std::optional<std::string> diagnostic_kind;
    std::optional<std::string> diagnostic_message;
    std::optional<std::uint64_t> diagnostic_occurrence;
};

/// Builds `type(message, code, hints, kind, diag_message, occurrence)` and sets it as the current
/// exception; if that construction fails, sets a plain Exception saying so instead. Returns nullptr.
PyObject* raise_exception_with_details(PyTypeObject* type, std::string_view message,
                                       std::optional<std::string_view> code, const ExceptionDetails& details);

/// The typed exception of a composition error: message and code only. Returns nullptr.
PyObject* raise_compose_error(const composer::ComposeError& error);
/// ZelkRenderError with the render error's message and optional code. Returns nullptr.
PyObject* raise_render_error(const composer::RenderError& error);
/// ZelkConfigError(message, code) without hints. Returns nullptr.
PyObject* raise_config_error(std::string_view message, std::string_view code);
/// ZelkConfigError carrying recovery hints. Returns nullptr.
PyObject* raise_config_error_with_recovery_hints(std::string_view message, std::string_view code,
                                                 std::vector<std::string> hints);
/// ZelkValidationError(message, code). Returns nullptr.
PyObject* raise_validation_error(std::string_view message,
                                 std::optional<std::string_view> code = std::nullopt);
/// The internal-failure exception carrying `text`. Returns nullptr.
PyObject* raise_internal_failure(std::string_view text);

/// The display text of a recovery hint as Python callers see it.
std::string recovery_hint_description(const composer::RecoveryHint& hint);

/// Runs `body` (which returns a new reference or nullptr with an exception set), turning any
/// C++ exception that escapes it into a Python one: MemoryError for allocation failure, the
/// internal-failure exception otherwise. Every entry point from Python goes through it.
template <typename F>
PyObject* guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        return raise_internal_failure(e.what());
    } catch (...) {
        return raise_internal_failure("unknown internal failure");
    }
}

}  // namespace zelk::python
