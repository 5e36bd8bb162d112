#include "python/types/names.hpp"

#include <string>

#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/py_ref.hpp"
#include "python/quoting.hpp"

namespace zelk::python {
namespace {

// The bits the two classes differ in.
template <typename Name>
struct NameTraits;

template <>
struct NameTraits<composer::VariableName> {
    static constexpr const char* kClass = "VariableName";
    static PyTypeObject* type() { return variable_name_type(); }
    static PyObject* raise_invalid(const composer::InvalidVariableNameError& error) {
        return raise_validation_error(error.display());
    }
};

template <>
struct NameTraits<composer::ProfileName> {
    static constexpr const char* kClass = "ProfileName";
    static PyTypeObject* type() { return profile_name_type(); }
    static PyObject* raise_invalid(const composer::InvalidProfileNameError& error) {
        return raise_config_error(error.display(), composer::as_str(composer::DiagnosticCode::ErrConfigMode));
    }
};

template <typename Name>
PyObject* name_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"value", nullptr};
        PyObject* value = nullptr;
        const std::string format = std::string("O:") + NameTraits<Name>::kClass;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, format.c_str(), const_cast<char**>(keywords),
                                         &value)) {
            return nullptr;
        }
        auto text = str_argument(value, "value");
        if (!text) {
            return nullptr;
        }
        auto name = Name::create(std::move(*text));
        if (!name) {
            return NameTraits<Name>::raise_invalid(name.error());
        }
        return box(type, std::move(*name));
    });
}

template <typename Name>
PyObject* name_str(PyObject* self) {
    return to_py_str(unbox<Name>(self).as_str());
}

template <typename Name>
PyObject* name_repr(PyObject* self) {
    return guarded([&] {
        const std::string text =
            std::string(NameTraits<Name>::kClass) + "(" + debug_quote(unbox<Name>(self).as_str()) + ")";
        return to_py_str(text);
    });
}

template <typename Name>
PyTypeObject* create_name_type(const char* qualified_name, const char* doc) {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_new, reinterpret_cast<void*>(name_new<Name>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<Name>)},
        {Py_tp_str, reinterpret_cast<void*>(name_str<Name>)},
        {Py_tp_repr, reinterpret_cast<void*>(name_repr<Name>)},
        {0, nullptr},
    };
    // No BASETYPE: not subclassable; no __dict__: no attributes; IMMUTABLETYPE: class attributes fixed too.
    static PyType_Spec spec = {
        qualified_name,
        static_cast<int>(sizeof(Boxed<Name>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return make_type(spec);
}

PyTypeObject* create_variable_name_type() {
    return create_name_type<composer::VariableName>("builtins.VariableName", "VariableName(value)\n--\n\n");
}

PyTypeObject* create_profile_name_type() {
    return create_name_type<composer::ProfileName>("builtins.ProfileName", "ProfileName(value)\n--\n\n");
}

}  // namespace

PyTypeObject* variable_name_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_variable_name_type);
}

PyTypeObject* profile_name_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_profile_name_type);
}

PyObject* wrap_variable_name(const composer::VariableName& name) {
    return box(variable_name_type(), name);
}

PyObject* wrap_profile_name(const composer::ProfileName& name) {
    return box(profile_name_type(), name);
}

PyObject* variable_name_list(const std::set<composer::VariableName>& names) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(names.size())));
    if (!list) {
        return nullptr;
    }
    Py_ssize_t i = 0;
    for (const composer::VariableName& name : names) {
        PyObject* item = wrap_variable_name(name);
        if (item == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(list.get(), i++, item);
    }
    return list.release();
}

const composer::VariableName* unwrap_variable_name(PyObject* object) {
    return unbox_if<composer::VariableName>(object, variable_name_type());
}

const composer::ProfileName* unwrap_profile_name(PyObject* object) {
    return unbox_if<composer::ProfileName>(object, profile_name_type());
}

}  // namespace zelk::python
