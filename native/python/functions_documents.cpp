#include "python/functions_documents.hpp"

#include "composer/frontmatter/parser.hpp"
#include "composer/yaml/metadata.hpp"
#include "python/args.hpp"
#include "python/convert/values.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"
#include "python/types/names.hpp"
#include "python/types/parsed_template.hpp"

namespace zelk::python {
namespace {

// Binds the single argument of a one-parameter function.
PyObject* single_argument(PyObject* args, PyObject* kwargs, const char* format, const char* parameter) {
    const char* keywords[] = {parameter, nullptr};
    PyObject* value = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &value)) {
        return nullptr;
    }
    return value;
}

PyObject* py_validate_input_value(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* value = single_argument(args, kwargs, "O:validate_input_value", "value");
        if (value == nullptr || !validated_input_value(value)) {
            return nullptr;
        }
        Py_RETURN_NONE;
    });
}

PyObject* py_input_value_from_yaml(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* input = single_argument(args, kwargs, "O:input_value_from_yaml", "input");
        if (input == nullptr) {
            return nullptr;
        }
        const auto text = str_argument(input, "input");
        if (!text) {
            return nullptr;
        }
        auto value = composer::yaml::input_value_from_yaml_text(*text);
        if (!value) {
            return raise_compose_error(value.error());
        }
        return json_to_py(*value);
    });
}

PyObject* py_parse_template_document(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* input = single_argument(args, kwargs, "O:parse_template_document", "input");
        if (input == nullptr) {
            return nullptr;
        }
        const auto text = str_argument(input, "input");
        if (!text) {
            return nullptr;
        }
        auto parsed = composer::parse_template_document(*text);
        if (!parsed) {
            return raise_compose_error(parsed.error());
        }
        return wrap_parsed_template(std::move(*parsed));
    });
}

PyObject* py_discover_all_pass_tokens(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argument = single_argument(args, kwargs, "O:discover_all_pass_tokens", "parsed");
        if (argument == nullptr) {
            return nullptr;
        }
        const composer::ParsedTemplate* parsed = unwrap_parsed_template(argument);
        if (parsed == nullptr) {
            PyErr_Format(PyExc_TypeError, "argument 'parsed' must be ParsedTemplate, not %.200s",
                         Py_TYPE(argument)->tp_name);
            return nullptr;
        }
        PyRef tokens = PyRef::steal(PyDict_New());
        if (!tokens) {
            return nullptr;
        }
        for (const auto& [pass_number, names] : composer::discover_all_pass_tokens(*parsed)) {
            PyRef key = PyRef::steal(PyLong_FromUnsignedLong(pass_number));
            PyRef list = PyRef::steal(variable_name_list(names));
            if (!key || !list || PyDict_SetItem(tokens.get(), key.get(), list.get()) < 0) {
                return nullptr;
            }
        }
        return tokens.release();
    });
}

PyCFunction as_function(PyCFunctionWithKeywords function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

PyMethodDef validate_input_value_def = {
    "validate_input_value",
    as_function(py_validate_input_value),
    METH_VARARGS | METH_KEYWORDS,
    "validate_input_value(value)\n--\n\n",
};

PyMethodDef input_value_from_yaml_def = {
    "input_value_from_yaml",
    as_function(py_input_value_from_yaml),
    METH_VARARGS | METH_KEYWORDS,
    "input_value_from_yaml(input)\n--\n\n",
};

PyMethodDef parse_template_document_def = {
    "parse_template_document",
    as_function(py_parse_template_document),
    METH_VARARGS | METH_KEYWORDS,
    "parse_template_document(input)\n--\n\n",
};

PyMethodDef discover_all_pass_tokens_def = {
    "discover_all_pass_tokens",
    as_function(py_discover_all_pass_tokens),
    METH_VARARGS | METH_KEYWORDS,
    "discover_all_pass_tokens(parsed)\n--\n\n",
};

}  // namespace zelk::python
