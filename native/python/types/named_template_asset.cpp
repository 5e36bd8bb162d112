#include "python/types/named_template_asset.hpp"

#include <utility>

#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"

namespace zelk::python {
namespace {

using composer::NamedTemplateAsset;

PyObject* asset_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"template_name", "template_text", nullptr};
        PyObject* name = nullptr;
        PyObject* text = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:NamedTemplateAsset", const_cast<char**>(keywords),
                                         &name, &text)) {
            return nullptr;
        }
        auto template_name = str_argument(name, "template_name");
        if (!template_name) {
            return nullptr;
        }
        auto template_text = str_argument(text, "template_text");
        if (!template_text) {
            return nullptr;
        }
        return box(type, NamedTemplateAsset{std::move(*template_name), std::move(*template_text)});
    });
}

PyObject* get_template_name(PyObject* self, void*) {
    return guarded([&] { return to_py_str(unbox<NamedTemplateAsset>(self).template_name); });
}

PyObject* get_template_text(PyObject* self, void*) {
    return guarded([&] { return to_py_str(unbox<NamedTemplateAsset>(self).template_text); });
}

PyGetSetDef kGetters[] = {
    {"template_name", get_template_name, nullptr, nullptr, nullptr},
    {"template_text", get_template_text, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_named_template_asset_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("NamedTemplateAsset(template_name, template_text)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(asset_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<NamedTemplateAsset>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.NamedTemplateAsset",
        static_cast<int>(sizeof(Boxed<NamedTemplateAsset>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* named_template_asset_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_named_template_asset_type);
}

const NamedTemplateAsset* unwrap_named_template_asset(PyObject* object) {
    return unbox_if<NamedTemplateAsset>(object, named_template_asset_type());
}

}  // namespace zelk::python
