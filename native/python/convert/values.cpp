#include "python/convert/values.hpp"

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>

#include <fmt/format.h>

#include "python/args.hpp"
#include "python/convert/basic.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace zelk::python {
namespace {

using composer::InputValue;

// How often a long iteration lets pending signals (Ctrl-C) interrupt it.
constexpr std::size_t kSignalCheckInterval = 4096;

bool is_numpy_bool(PyObject* object) {
    const char* name = Py_TYPE(object)->tp_name;
    return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

// One conversion: the containers currently being read, to refuse one that holds itself.
class Converter {
  public:
    std::optional<InputValue> convert(PyObject* object, std::size_t depth) {
        if (object == Py_None) {
            return InputValue();
        }
        if (PyBool_Check(object) || is_numpy_bool(object)) {
            const int truth = PyObject_IsTrue(object);
            if (truth < 0) {
                return std::nullopt;
            }
            return InputValue(truth == 1);
        }
        bool too_large_for_integers = false;
        if (PyIndex_Check(object)) {
            auto integer = convert_integer(object, too_large_for_integers);
            if (integer || PyErr_Occurred()) {
                return integer;
            }
        }
        const PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
        if (too_large_for_integers || PyFloat_Check(object) ||
            (number != nullptr && number->nb_float != nullptr)) {
            return convert_float(object, too_large_for_integers);
        }
        if (PyUnicode_Check(object)) {
            auto text = utf8_text(object);
            if (!text) {
                return std::nullopt;
            }
            return InputValue(std::move(*text));
        }
        if (PyDict_Check(object)) {
            return convert_container(object, depth, &Converter::convert_dict);
        }
        if (Py_TYPE(object)->tp_iter != nullptr || PySequence_Check(object)) {
            return convert_container(object, depth, &Converter::convert_iterable);
        }
        return unsupported(object);
    }

  private:
    using ContainerReader = std::optional<InputValue> (Converter::*)(PyObject*, std::size_t);

    static std::optional<InputValue> unsupported(PyObject* object) {
        raise_validation_error(fmt::format("unsupported Python value type for compose input: {}",
                                           _PyType_Name(Py_TYPE(object))));
        return std::nullopt;
    }

    // nullopt without an exception when the integer fits neither 64-bit range.
    static std::optional<InputValue> convert_integer(PyObject* object, bool& too_large) {
        PyRef index = PyRef::steal(PyNumber_Index(object));
        if (!index) {
            return std::nullopt;
        }
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
        if (value == -1 && PyErr_Occurred()) {
            return std::nullopt;
        }
        if (overflow == 0) {
            return InputValue(static_cast<std::int64_t>(value));
        }
        if (overflow > 0) {
            const unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(index.get());
            if (!(unsigned_value == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
                return InputValue(static_cast<std::uint64_t>(unsigned_value));
            }
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) {
                return std::nullopt;
            }
            PyErr_Clear();
        }
        too_large = true;
        return std::nullopt;
    }

    static std::optional<InputValue> convert_float(PyObject* object, bool is_large_integer) {
        const double value = PyFloat_AsDouble(object);
        if (value == -1.0 && PyErr_Occurred()) {
            // An int beyond the float range is no number this model can hold.
            if (is_large_integer && PyErr_ExceptionMatches(PyExc_OverflowError)) {
                PyErr_Clear();
                return unsupported(object);
            }
            return std::nullopt;
        }
        if (!std::isfinite(value)) {
            raise_validation_error("floating-point values must be finite");
            return std::nullopt;
        }
        return InputValue(value);
    }

    std::optional<InputValue> convert_container(PyObject* object, std::size_t depth, ContainerReader reader) {
        if (depth >= composer::kMaxValueDepth) {
            raise_validation_error(
                fmt::format("compose input nests deeper than {} levels", composer::kMaxValueDepth));
            return std::nullopt;
        }
        if (!active_.insert(object).second) {
            raise_validation_error("compose input contains a container that holds itself");
            return std::nullopt;
        }
        auto value = (this->*reader)(object, depth + 1);
        active_.erase(object);
        return value;
    }

    std::optional<InputValue> convert_dict(PyObject* dict, std::size_t depth) {
        InputValue::Object entries;
        const bool read = for_each_dict_item(dict, [&](PyObject* key, PyObject* item) {
            if (!PyUnicode_Check(key)) {
                raise_validation_error("object keys must be strings");
                return false;
            }
            auto text = utf8_text(key);
            if (!text) {
                return false;
            }
            auto value = convert(item, depth);
            if (!value) {
                return false;
            }
            entries.insert_or_assign(std::move(*text), std::move(*value));
            return true;
        });
        if (!read) {
            return std::nullopt;
        }
        return InputValue(std::move(entries));
    }

    std::optional<InputValue> convert_iterable(PyObject* iterable, std::size_t depth) {
        InputValue::Array items;
        const bool read = for_each_item(iterable, [&](PyObject* item) {
            auto value = convert(item, depth);
            if (!value) {
                return false;
            }
            items.push_back(std::move(*value));
            return items.size() % kSignalCheckInterval != 0 || PyErr_CheckSignals() == 0;
        });
        if (!read) {
            return std::nullopt;
        }
        return InputValue(std::move(items));
    }

    std::unordered_set<PyObject*> active_;
};

struct ToPython {
    PyObject* operator()(InputValue::Null) const { Py_RETURN_NONE; }
    PyObject* operator()(bool value) const { return PyBool_FromLong(value ? 1 : 0); }
    PyObject* operator()(std::int64_t value) const { return PyLong_FromLongLong(value); }
    PyObject* operator()(std::uint64_t value) const { return PyLong_FromUnsignedLongLong(value); }
    PyObject* operator()(double value) const { return PyFloat_FromDouble(value); }
    PyObject* operator()(const std::string& value) const { return to_py_str(value); }
    PyObject* operator()(const InputValue::Array& items) const {
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
        if (!list) {
            return nullptr;
        }
        Py_ssize_t i = 0;
        for (const InputValue& item : items) {
            PyObject* converted = json_to_py(item);
            if (converted == nullptr) {
                return nullptr;
            }
            PyList_SET_ITEM(list.get(), i++, converted);
        }
        return list.release();
    }
    PyObject* operator()(const InputValue::Object& entries) const {
        PyRef dict = PyRef::steal(PyDict_New());
        if (!dict) {
            return nullptr;
        }
        for (const auto& [key, item] : entries) {
            PyRef converted = PyRef::steal(json_to_py(item));
            PyRef key_object = PyRef::steal(to_py_str(key));
            if (!converted || !key_object ||
                PyDict_SetItem(dict.get(), key_object.get(), converted.get()) < 0) {
                return nullptr;
            }
        }
        return dict.release();
    }
};

}  // namespace

std::optional<InputValue> py_to_json_value(PyObject* object) {
    Converter converter;
    return converter.convert(object, 0);
}

std::optional<InputValue> validated_input_value(PyObject* object) {
    auto value = py_to_json_value(object);
    if (!value) {
        return std::nullopt;
    }
    if (auto checked = composer::validate_input_value(*value); !checked) {
        raise_validation_error(checked.error().message, composer::as_str(checked.error().code));
        return std::nullopt;
    }
    return value;
}

PyObject* json_to_py(const InputValue& value) {
    return std::visit(ToPython{}, value.data);
}

PyObject* var_map_to_py(const composer::VariableMap& map) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) {
        return nullptr;
    }
    for (const auto& [name, value] : map) {
        PyRef converted = PyRef::steal(json_to_py(value));
        if (!converted || PyDict_SetItemString(dict.get(), name.as_str().c_str(), converted.get()) < 0) {
            return nullptr;
        }
    }
    return dict.release();
}

PyObject* metadata_map_to_py(const composer::MetadataMap& map) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) {
        return nullptr;
    }
    for (const auto& [key, value] : map) {
        auto json = value.to_json_value();
        if (!json) {
            return raise_config_error(json.error().message,
                                      composer::as_str(composer::DiagnosticCode::ErrConfigParse));
        }
        PyRef converted = PyRef::steal(json_to_py(*json));
        PyRef key_object = PyRef::steal(to_py_str(key));
        if (!converted || !key_object || PyDict_SetItem(dict.get(), key_object.get(), converted.get()) < 0) {
            return nullptr;
        }
    }
    return dict.release();
}

}  // namespace zelk::python
