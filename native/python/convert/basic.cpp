#include "python/convert/basic.hpp"

#include "python/errors.hpp"

namespace zelk::python {

std::optional<std::string> utf8_text(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
            return std::nullopt;
        }
        PyErr_Clear();
        raise_validation_error(
            "strings must be valid Unicode text: lone surrogates cannot be encoded as UTF-8");
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace zelk::python
