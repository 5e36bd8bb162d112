#include "python/errors.hpp"

#include <array>
#include <cstdio>
#include <string>

#include "python/object.hpp"
#include "python/py_ref.hpp"

namespace zelk::python {
namespace {

// Every exception class shares this layout; the base exception part keeps `args`.
struct ZelkExceptionObject {
    PyBaseExceptionObject base;
    PyObject* message;
    PyObject* code;
    PyObject* recovery_hints;  // a tuple of str; readers get a fresh list
    PyObject* diagnostic_kind;
    PyObject* diagnostic_message;
    PyObject* diagnostic_occurrence;
};

ZelkExceptionObject* as_exception(PyObject* self) {
    return reinterpret_cast<ZelkExceptionObject*>(self);
}

PyTypeObject* base_exception_class() {
    return reinterpret_cast<PyTypeObject*>(PyExc_Exception);
}

int exception_traverse(PyObject* self, visitproc visit, void* arg) {
    ZelkExceptionObject* e = as_exception(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(e->message);
    Py_VISIT(e->code);
    Py_VISIT(e->recovery_hints);
    Py_VISIT(e->diagnostic_kind);
    Py_VISIT(e->diagnostic_message);
    Py_VISIT(e->diagnostic_occurrence);
    return base_exception_class()->tp_traverse(self, visit, arg);
}

int exception_clear(PyObject* self) {
    ZelkExceptionObject* e = as_exception(self);
    Py_CLEAR(e->message);
    Py_CLEAR(e->code);
    Py_CLEAR(e->recovery_hints);
    Py_CLEAR(e->diagnostic_kind);
    Py_CLEAR(e->diagnostic_message);
    Py_CLEAR(e->diagnostic_occurrence);
    return base_exception_class()->tp_clear(self);
}

void exception_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    // Long __cause__/__context__ chains are freed iteratively, as for the built-in exceptions.
    Py_TRASHCAN_BEGIN(self, exception_dealloc);
    exception_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
    Py_TRASHCAN_END;
}

PyObject* type_error_for(const char* parameter, const char* expected, PyObject* value) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be %s, not %.200s", parameter, expected,
                 Py_TYPE(value)->tp_name);
    return nullptr;
}

// An exact str copy of `value` (str or subclass), or None when allowed and given.
PyObject* optional_text(PyObject* value, const char* parameter, bool allow_none) {
    if (allow_none && (value == nullptr || value == Py_None)) {
        Py_RETURN_NONE;
    }
    if (value == nullptr || !PyUnicode_Check(value)) {
        return type_error_for(parameter, allow_none ? "str or None" : "str", value ? value : Py_None);
    }
    return PyUnicode_FromObject(value);
}

PyObject* hints_tuple(PyObject* value) {
    if (value == nullptr || value == Py_None) {
        return PyTuple_New(0);
    }
    // A single string is not taken as a sequence of one-character hints.
    if (PyUnicode_Check(value) || !PySequence_Check(value)) {
        return type_error_for("recovery_hints", "a sequence of str or None", value);
    }
    PyRef items = PyRef::steal(PySequence_Tuple(value));
    if (!items) {
        return nullptr;
    }
    const Py_ssize_t size = PyTuple_GET_SIZE(items.get());
    PyRef out = PyRef::steal(PyTuple_New(size));
    if (!out) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item = PyTuple_GET_ITEM(items.get(), i);
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "argument 'recovery_hints' must hold only str, not %.200s",
                         Py_TYPE(item)->tp_name);
            return nullptr;
        }
        PyObject* text = PyUnicode_FromObject(item);
        if (text == nullptr) {
            return nullptr;
        }
        PyTuple_SET_ITEM(out.get(), i, text);
    }
    return out.release();
}

PyObject* occurrence_value(PyObject* value) {
    if (value == nullptr || value == Py_None) {
        Py_RETURN_NONE;
    }
    if (!PyLong_Check(value)) {
        return type_error_for("diagnostic_occurrence", "int or None", value);
    }
    const unsigned long long n = PyLong_AsUnsignedLongLong(value);
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return nullptr;
    }
    return PyLong_FromUnsignedLongLong(n);
}

int exception_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {
        "message", "code", "recovery_hints", "diagnostic_kind", "diagnostic_message", "diagnostic_occurrence",
        nullptr};
    PyObject* message = nullptr;
    PyObject* code = nullptr;
    PyObject* hints = nullptr;
    PyObject* kind = nullptr;
    PyObject* diagnostic_message = nullptr;
    PyObject* occurrence = nullptr;
    // The class name after ':' makes the interpreter's binding errors name the class being built.
    char format[128];
    std::snprintf(format, sizeof format, "O|OOOOO:%s", _PyType_Name(Py_TYPE(self)));
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &message, &code,
                                     &hints, &kind, &diagnostic_message, &occurrence)) {
        return -1;
    }
    PyRef values[] = {
        PyRef::steal(optional_text(message, "message", false)),
        PyRef::steal(optional_text(code, "code", true)),
        PyRef(),
        PyRef(),
        PyRef(),
        PyRef(),
    };
    if (!values[0] || !values[1]) {
        return -1;
    }
    values[2] = PyRef::steal(hints_tuple(hints));
    if (!values[2]) {
        return -1;
    }
    values[3] = PyRef::steal(optional_text(kind, "diagnostic_kind", true));
    if (!values[3]) {
        return -1;
    }
    values[4] = PyRef::steal(optional_text(diagnostic_message, "diagnostic_message", true));
    if (!values[4]) {
        return -1;
    }
    values[5] = PyRef::steal(occurrence_value(occurrence));
    if (!values[5]) {
        return -1;
    }
    // Nothing is stored until every argument has been accepted.
    ZelkExceptionObject* e = as_exception(self);
    Py_XSETREF(e->message, values[0].release());
    Py_XSETREF(e->code, values[1].release());
    Py_XSETREF(e->recovery_hints, values[2].release());
    Py_XSETREF(e->diagnostic_kind, values[3].release());
    Py_XSETREF(e->diagnostic_message, values[4].release());
    Py_XSETREF(e->diagnostic_occurrence, values[5].release());
    return 0;
}

PyObject* field_or(PyObject* value, PyObject* fallback_owned) {
    if (value != nullptr) {
        Py_XDECREF(fallback_owned);
        return Py_NewRef(value);
    }
    return fallback_owned;
}

PyObject* get_message(PyObject* self, void*) {
    return field_or(as_exception(self)->message, PyUnicode_FromStringAndSize("", 0));
}
PyObject* get_code(PyObject* self, void*) {
    return field_or(as_exception(self)->code, Py_NewRef(Py_None));
}
PyObject* get_recovery_hints(PyObject* self, void*) {
    PyObject* hints = as_exception(self)->recovery_hints;
    return hints != nullptr ? PySequence_List(hints) : PyList_New(0);
}
PyObject* get_diagnostic_kind(PyObject* self, void*) {
    return field_or(as_exception(self)->diagnostic_kind, Py_NewRef(Py_None));
}
PyObject* get_diagnostic_message(PyObject* self, void*) {
    return field_or(as_exception(self)->diagnostic_message, Py_NewRef(Py_None));
}
PyObject* get_diagnostic_occurrence(PyObject* self, void*) {
    return field_or(as_exception(self)->diagnostic_occurrence, Py_NewRef(Py_None));
}

PyGetSetDef exception_getset[] = {
    {"message", get_message, nullptr, nullptr, nullptr},
    {"code", get_code, nullptr, nullptr, nullptr},
    {"recovery_hints", get_recovery_hints, nullptr, nullptr, nullptr},
    {"diagnostic_kind", get_diagnostic_kind, nullptr, nullptr, nullptr},
    {"diagnostic_message", get_diagnostic_message, nullptr, nullptr, nullptr},
    {"diagnostic_occurrence", get_diagnostic_occurrence, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#define ZELK_EXCEPTION_SIGNATURE                                                                \
    "(message, code=None, recovery_hints=None, diagnostic_kind=None, diagnostic_message=None, " \
    "diagnostic_occurrence=None)\n--\n\n"

PyTypeObject* create_compose_error() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("ZelkComposeError" ZELK_EXCEPTION_SIGNATURE)},
        {Py_tp_init, reinterpret_cast<void*>(exception_init)},
        {Py_tp_traverse, reinterpret_cast<void*>(exception_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(exception_clear)},
        {Py_tp_dealloc, reinterpret_cast<void*>(exception_dealloc)},
        {Py_tp_getset, exception_getset},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ZelkComposeError",
        static_cast<int>(sizeof(ZelkExceptionObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
        slots,
    };
    return make_type(spec, PyExc_Exception);
}

// The five concrete classes: same layout and constructor, closed to subclassing.
template <const char* Name, const char* Doc>
PyTypeObject* create_derived() {
    PyTypeObject* base = zelk_compose_error_type();
    if (base == nullptr) {
        return nullptr;
    }
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(Doc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {Name, 0, 0, Py_TPFLAGS_DEFAULT, slots};
    return make_type(spec, reinterpret_cast<PyObject*>(base));
}

constexpr char kRenderName[] = "builtins.ZelkRenderError";
constexpr char kRenderDoc[] = "ZelkRenderError" ZELK_EXCEPTION_SIGNATURE;
constexpr char kValidationName[] = "builtins.ZelkValidationError";
constexpr char kValidationDoc[] = "ZelkValidationError" ZELK_EXCEPTION_SIGNATURE;
constexpr char kResolveName[] = "builtins.ZelkResolveError";
constexpr char kResolveDoc[] = "ZelkResolveError" ZELK_EXCEPTION_SIGNATURE;
constexpr char kIncludeName[] = "builtins.ZelkIncludeError";
constexpr char kIncludeDoc[] = "ZelkIncludeError" ZELK_EXCEPTION_SIGNATURE;
constexpr char kConfigName[] = "builtins.ZelkConfigError";
constexpr char kConfigDoc[] = "ZelkConfigError" ZELK_EXCEPTION_SIGNATURE;

#undef ZELK_EXCEPTION_SIGNATURE

PyTypeObject* create_internal_failure() {
    return reinterpret_cast<PyTypeObject*>(PyErr_NewExceptionWithDoc(
        "builtins.ZelkInternalFailure", "A broken internal invariant of zelk_compose._native.",
        PyExc_BaseException, nullptr));
}

PyObject* text_or_none(const std::optional<std::string>& text) {
    if (!text) {
        Py_RETURN_NONE;
    }
    return PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size()));
}

// Sets the fallback Exception after `type(...)` itself failed, with that failure described.
PyObject* raise_construction_fallback(std::string_view message) {
    PyObject* failure_type = nullptr;
    PyObject* failure = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&failure_type, &failure, &traceback);
    PyErr_NormalizeException(&failure_type, &failure, &traceback);
    Py_XDECREF(failure_type);
    Py_XDECREF(traceback);
    std::string described = "unknown error";
    if (failure != nullptr) {
        PyRef text = PyRef::steal(PyObject_Str(failure));
        const char* text_utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
        if (text_utf8 == nullptr) {
            PyErr_Clear();
            text_utf8 = "<unprintable>";
        }
        described = std::string(_PyType_Name(Py_TYPE(failure))) + ": " + text_utf8;
        Py_DECREF(failure);
    }
    const std::string full =
        std::string(message) + " (typed exception construction failed: " + described + ")";
    PyErr_SetObject(
        PyExc_Exception,
        PyRef::steal(PyUnicode_DecodeUTF8(full.data(), static_cast<Py_ssize_t>(full.size()), "replace"))
            .get());
    return nullptr;
}

}  // namespace

PyTypeObject* zelk_compose_error_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_compose_error);
}
PyTypeObject* zelk_render_error_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_derived<kRenderName, kRenderDoc>);
}
PyTypeObject* zelk_validation_error_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_derived<kValidationName, kValidationDoc>);
}
PyTypeObject* zelk_resolve_error_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_derived<kResolveName, kResolveDoc>);
}
PyTypeObject* zelk_include_error_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_derived<kIncludeName, kIncludeDoc>);
}
PyTypeObject* zelk_config_error_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_derived<kConfigName, kConfigDoc>);
}
PyTypeObject* zelk_internal_failure_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_internal_failure);
}

int register_exceptions(PyObject* module) {
    using Getter = PyTypeObject* (*)();
    static constexpr std::array<std::pair<const char*, Getter>, 6> kOrder{{
        {"ZelkComposeError", zelk_compose_error_type},
        {"ZelkRenderError", zelk_render_error_type},
        {"ZelkValidationError", zelk_validation_error_type},
        {"ZelkResolveError", zelk_resolve_error_type},
        {"ZelkIncludeError", zelk_include_error_type},
        {"ZelkConfigError", zelk_config_error_type},
    }};
    for (const auto& [name, getter] : kOrder) {
        PyTypeObject* type = getter();
        if (type == nullptr || PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) < 0) {
            return -1;
        }
    }
    return 0;
}

PyObject* raise_exception_with_details(PyTypeObject* type, std::string_view message,
                                       std::optional<std::string_view> code,
                                       const ExceptionDetails& details) {
    if (type == nullptr) {
        return raise_construction_fallback(message);
    }
    PyRef py_message = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    PyRef py_code = code ? PyRef::steal(PyUnicode_DecodeUTF8(
                               code->data(), static_cast<Py_ssize_t>(code->size()), "replace"))
                         : PyRef::borrow(Py_None);
    PyRef py_hints = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(details.recovery_hints.size())));
    if (!py_message || !py_code || !py_hints) {
        return raise_construction_fallback(message);
    }
    for (std::size_t i = 0; i < details.recovery_hints.size(); ++i) {
        const std::string& hint = details.recovery_hints[i];
        PyObject* text = PyUnicode_DecodeUTF8(hint.data(), static_cast<Py_ssize_t>(hint.size()), "replace");
        if (text == nullptr) {
            return raise_construction_fallback(message);
        }
        PyList_SET_ITEM(py_hints.get(), static_cast<Py_ssize_t>(i), text);
    }
    PyRef py_kind = PyRef::steal(text_or_none(details.diagnostic_kind));
    PyRef py_diagnostic_message = PyRef::steal(text_or_none(details.diagnostic_message));
    PyRef py_occurrence = details.diagnostic_occurrence
                              ? PyRef::steal(PyLong_FromUnsignedLongLong(*details.diagnostic_occurrence))
                              : PyRef::borrow(Py_None);
    if (!py_kind || !py_diagnostic_message || !py_occurrence) {
        return raise_construction_fallback(message);
    }
    PyRef instance = PyRef::steal(PyObject_CallFunctionObjArgs(
        reinterpret_cast<PyObject*>(type), py_message.get(), py_code.get(), py_hints.get(), py_kind.get(),
        py_diagnostic_message.get(), py_occurrence.get(), nullptr));
    if (!instance) {
        return raise_construction_fallback(message);
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(type), instance.get());
    return nullptr;
}

PyObject* raise_render_error(const composer::RenderError& error) {
    std::optional<std::string_view> code;
    if (error.code) {
        code = composer::as_str(*error.code);
    }
    return raise_exception_with_details(zelk_render_error_type(), error.message, code, {});
}

PyObject* raise_compose_error(const composer::ComposeError& error) {
    // Only message and code cross the boundary; hints, chains, sources and traces stay behind.
    const auto raise = [&](PyTypeObject* type, const auto& record) {
        return raise_exception_with_details(type, record.message, composer::as_str(record.code), {});
    };
    if (const auto* e = error.get_if<composer::ResolveError>()) {
        return raise(zelk_resolve_error_type(), *e);
    }
    if (const auto* e = error.get_if<composer::IncludeError>()) {
        return raise(zelk_include_error_type(), *e);
    }
    if (const auto* e = error.get_if<composer::ValidationError>()) {
        return raise(zelk_validation_error_type(), *e);
    }
    if (const auto* e = error.get_if<composer::RenderError>()) {
        return raise_render_error(*e);
    }
    return raise(zelk_config_error_type(), *error.get_if<composer::ConfigError>());
}

PyObject* raise_config_error(std::string_view message, std::string_view code) {
    return raise_exception_with_details(zelk_config_error_type(), message, code, {});
}

PyObject* raise_config_error_with_recovery_hints(std::string_view message, std::string_view code,
                                                 std::vector<std::string> hints) {
    ExceptionDetails details;
    details.recovery_hints = std::move(hints);
    return raise_exception_with_details(zelk_config_error_type(), message, code, details);
}

PyObject* raise_validation_error(std::string_view message, std::optional<std::string_view> code) {
    return raise_exception_with_details(zelk_validation_error_type(), message, code, {});
}

PyObject* raise_internal_failure(std::string_view text) {
    PyTypeObject* type = zelk_internal_failure_type();
    if (type == nullptr) {
        return nullptr;
    }
    PyRef py_text =
        PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (py_text) {
        PyErr_SetObject(reinterpret_cast<PyObject*>(type), py_text.get());
    }
    return nullptr;
}

std::string recovery_hint_description(const composer::RecoveryHint& hint) {
    return hint.description();
}

}  // namespace zelk::python
