#include "python/args.hpp"

#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace zelk::python {
namespace {

std::optional<std::string> utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

PyObject* expect_dict(PyObject* value, std::string_view message) {
    if (PyDict_Check(value)) {
        return value;
    }
    return raise_validation_error(message);
}

std::optional<std::string> extract_string_key(PyObject* key, std::string_view message) {
    if (PyUnicode_Check(key)) {
        if (auto text = utf8_of(key)) {
            return text;
        }
        PyErr_Clear();
    }
    raise_validation_error(message);
    return std::nullopt;
}

std::optional<std::string> coerce_path_like(PyObject* value) {
    PyRef os = PyRef::steal(PyImport_ImportModule("os"));
    if (!os) {
        return std::nullopt;
    }
    PyRef fspath = PyRef::steal(PyObject_GetAttrString(os.get(), "fspath"));
    if (!fspath) {
        return std::nullopt;
    }
    PyRef result = PyRef::steal(PyObject_CallOneArg(fspath.get(), value));
    if (!result) {
        return std::nullopt;
    }
    if (!PyUnicode_Check(result.get())) {
        PyErr_Format(PyExc_TypeError, "path must be str, not %.200s", Py_TYPE(result.get())->tp_name);
        return std::nullopt;
    }
    return utf8_of(result.get());
}

std::optional<std::string> str_argument(PyObject* value, const char* parameter) {
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "argument '%s' must be str, not %.200s", parameter,
                     Py_TYPE(value)->tp_name);
        return std::nullopt;
    }
    return utf8_of(value);
}

std::optional<std::uint64_t> u64_argument(PyObject* value, const char* parameter) {
    PyRef index = PyRef::steal(PyNumber_Index(value));
    if (!index) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "argument '%s' must be int, not %.200s", parameter,
                         Py_TYPE(value)->tp_name);
        }
        return std::nullopt;
    }
    const unsigned long long n = PyLong_AsUnsignedLongLong(index.get());
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(n);
}

PyObject* to_py_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

}  // namespace zelk::python
