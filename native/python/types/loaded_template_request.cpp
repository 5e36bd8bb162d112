#include "python/types/loaded_template_request.hpp"

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "python/args.hpp"
#include "python/convert/basic.hpp"
#include "python/convert/maps.hpp"
#include "python/convert/values.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"

namespace zelk::python {
namespace {

using composer::InputValue;
using composer::LoadedTemplateRequest;

// The context dict, in the dict's order, into a map ordered by key; keys are any text.
std::optional<std::map<std::string, InputValue>> extract_context(PyObject* context) {
    if (expect_dict(context, "context must be a Python dict") == nullptr) {
        return std::nullopt;
    }
    std::map<std::string, InputValue> entries;
    const bool read = for_each_dict_item(context, [&](PyObject* key, PyObject* item) {
        auto text = extract_string_key(key, "context keys must be strings");
        if (!text) {
            return false;
        }
        auto value = validated_input_value(item);
        if (!value) {
            return false;
        }
        entries.insert_or_assign(std::move(*text), std::move(*value));
        return true;
    });
    if (!read) {
        return std::nullopt;
    }
    return entries;
}

PyObject* request_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static const char* keywords[] = {"template_name", "template_text", "context", "supporting_templates",
                                         nullptr};
        PyObject* name = nullptr;
        PyObject* text = nullptr;
        PyObject* context = nullptr;
        PyObject* supporting = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|O:LoadedTemplateRequest",
                                         const_cast<char**>(keywords), &name, &text, &context, &supporting)) {
            return nullptr;
        }
        LoadedTemplateRequest request;
        auto template_name = str_argument(name, "template_name");
        if (!template_name) {
            return nullptr;
        }
        request.template_name = std::move(*template_name);
        auto template_text = str_argument(text, "template_text");
        if (!template_text) {
            return nullptr;
        }
        request.template_text = std::move(*template_text);
        auto entries = extract_context(context);
        if (!entries) {
            return nullptr;
        }
        request.context = std::move(*entries);
        auto templates = extract_supporting_templates(supporting);
        if (!templates) {
            return nullptr;
        }
        request.supporting_templates = std::move(*templates);
        return box(type, std::move(request));
    });
}

PyTypeObject* create_loaded_template_request_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("LoadedTemplateRequest(template_name, template_text, context, "
                                      "supporting_templates=None)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(request_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<LoadedTemplateRequest>)},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.LoadedTemplateRequest",
        static_cast<int>(sizeof(Boxed<LoadedTemplateRequest>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* loaded_template_request_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_loaded_template_request_type);
}

const LoadedTemplateRequest* unwrap_loaded_template_request(PyObject* object) {
    return unbox_if<LoadedTemplateRequest>(object, loaded_template_request_type());
}

}  // namespace zelk::python
