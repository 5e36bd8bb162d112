#include "python/types/parsed_template.hpp"

#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/types/frontmatter.hpp"

namespace zelk::python {
namespace {

using composer::ParsedTemplate;

PyObject* get_body(PyObject* self, void*) {
    return guarded([&] { return to_py_str(unbox<ParsedTemplate>(self).body); });
}

PyObject* get_passes(PyObject* self, void*) {
    return guarded([&] { return frontmatter_list(unbox<ParsedTemplate>(self).passes); });
}

PyObject* get_frontmatter(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        const ParsedTemplate& parsed = unbox<ParsedTemplate>(self);
        if (parsed.passes.empty()) {
            Py_RETURN_NONE;
        }
        return wrap_frontmatter(parsed.passes.front());
    });
}

PyGetSetDef kGetters[] = {
    {"body", get_body, nullptr, nullptr, nullptr},
    {"passes", get_passes, nullptr, nullptr, nullptr},
    {"frontmatter", get_frontmatter, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_parsed_template_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ParsedTemplate>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "builtins.ParsedTemplate",
        static_cast<int>(sizeof(Boxed<ParsedTemplate>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* parsed_template_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_parsed_template_type);
}

PyObject* wrap_parsed_template(ParsedTemplate parsed) {
    return box(parsed_template_type(), std::move(parsed));
}

const ParsedTemplate* unwrap_parsed_template(PyObject* object) {
    return unbox_if<ParsedTemplate>(object, parsed_template_type());
}

}  // namespace zelk::python
