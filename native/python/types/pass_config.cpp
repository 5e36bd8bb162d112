#include "python/types/pass_config.hpp"

#include <fmt/format.h>

#include "python/args.hpp"
#include "python/convert/basic.hpp"
#include "python/convert/maps.hpp"
#include "python/convert/values.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/quoting.hpp"
#include "python/types/names.hpp"

namespace zelk::python {
namespace {

using composer::PassConfig;

PyObject* pass_config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"pass_number", "required_variables", "defaults", "metadata",
                                         nullptr};
        PyObject* pass_number = nullptr;
        PyObject* required_variables = nullptr;
        PyObject* defaults = nullptr;
        PyObject* metadata = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOO:PassConfig", const_cast<char**>(keywords),
                                         &pass_number, &required_variables, &defaults, &metadata)) {
            return nullptr;
        }
        const auto number = u64_argument(pass_number, "pass_number");
        if (!number) {
            return nullptr;
        }
        if (*number > 255) {
            PyErr_SetString(PyExc_OverflowError, "pass_number must be an integer from 0 to 255");
            return nullptr;
        }
        PassConfig config;
        // 0 is the number of a default pass configuration, like a frontmatter "pass: 0".
        config.pass_number = *number == 0 ? 1 : static_cast<std::uint8_t>(*number);
        auto names = extract_variable_names(required_variables);
        if (!names) {
            return nullptr;
        }
        auto default_values = extract_var_map(defaults);
        if (!default_values) {
            return nullptr;
        }
        auto metadata_values = extract_metadata_map(metadata);
        if (!metadata_values) {
            return nullptr;
        }
        config.required_variables = std::move(*names);
        config.defaults = std::move(*default_values);
        config.metadata = std::move(*metadata_values);
        return box(type, std::move(config));
    });
}

PyObject* pass_config_repr_slot(PyObject* self) {
    return guarded([&] { return to_py_str(pass_config_repr(unbox<PassConfig>(self))); });
}

PyObject* get_pass_number(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(unbox<PassConfig>(self).pass_number);
}

PyObject* get_required_variables(PyObject* self, void*) {
    return guarded([&] { return new_list(unbox<PassConfig>(self).required_variables, wrap_variable_name); });
}

PyObject* get_defaults(PyObject* self, void*) {
    return guarded([&] { return var_map_to_py(unbox<PassConfig>(self).defaults); });
}

PyObject* get_metadata(PyObject* self, void*) {
    return guarded([&] { return metadata_map_to_py(unbox<PassConfig>(self).metadata); });
}

PyGetSetDef kGetters[] = {
    {"pass_number", get_pass_number, nullptr, nullptr, nullptr},
    {"required_variables", get_required_variables, nullptr, nullptr, nullptr},
    {"defaults", get_defaults, nullptr, nullptr, nullptr},
    {"metadata", get_metadata, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_pass_config_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc,
         const_cast<char*>(
             "PassConfig(pass_number, required_variables=None, defaults=None, metadata=None)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(pass_config_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<PassConfig>)},
        {Py_tp_repr, reinterpret_cast<void*>(pass_config_repr_slot)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.PassConfig",
        static_cast<int>(sizeof(Boxed<PassConfig>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* pass_config_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_pass_config_type);
}

PyObject* wrap_pass_config(const PassConfig& config) {
    return box(pass_config_type(), config);
}

const PassConfig* unwrap_pass_config(PyObject* object) {
    return unbox_if<PassConfig>(object, pass_config_type());
}

std::string pass_config_repr(const PassConfig& config) {
    std::string names = "[";
    for (std::size_t i = 0; i < config.required_variables.size(); ++i) {
        if (i > 0) {
            names += ", ";
        }
        names += debug_quote(config.required_variables[i].as_str());
    }
    names += "]";
    return fmt::format("PassConfig(pass_number={}, required_variables={}, defaults={}, metadata={})",
                       config.pass_number, names, config.defaults.size(), config.metadata.size());
}

}  // namespace zelk::python
