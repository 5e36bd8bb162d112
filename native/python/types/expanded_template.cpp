#include "python/types/expanded_template.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "composer/utf8.hpp"
#include "python/args.hpp"
#include "python/convert/basic.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/py_ref.hpp"
#include "python/types/frontmatter.hpp"

namespace zelk::python {
namespace {

using composer::ExpandedTemplate;

const ExpandedTemplate& record(PyObject* self) {
    return unbox<ExpandedTemplate>(self);
}

PyObject* path_str(const std::filesystem::path& path) {
    return to_py_str(composer::path_display(path));
}

PyObject* path_list(const std::vector<std::filesystem::path>& paths) {
    return new_list(paths, path_str);
}

// A list of (path, f(blocks)) pairs, one per expanded file.
template <typename Second>
PyObject* per_file_list(PyObject* self, Second second) {
    return new_list(record(self).frontmatters, [&](const auto& entry) -> PyObject* {
        PyRef path = PyRef::steal(path_str(entry.first));
        PyRef value = path ? PyRef::steal(second(entry.second)) : PyRef();
        return value ? PyTuple_Pack(2, path.get(), value.get()) : nullptr;
    });
}

PyObject* get_text(PyObject* self, void*) {
    return guarded([&] { return to_py_str(record(self).text); });
}

PyObject* get_resolved_files(PyObject* self, void*) {
    return guarded([&] { return path_list(record(self).resolved_files); });
}

PyObject* get_frontmatters(PyObject* self, void*) {
    return guarded([&] {
        return per_file_list(self, [](const std::vector<composer::Frontmatter>& blocks) -> PyObject* {
            return blocks.empty() ? Py_NewRef(Py_None) : wrap_frontmatter(blocks.front());
        });
    });
}

PyObject* get_frontmatter_passes(PyObject* self, void*) {
    return guarded([&] {
        return per_file_list(self, [](const std::vector<composer::Frontmatter>& blocks) -> PyObject* {
            return frontmatter_list(blocks);
        });
    });
}

PyObject* get_include_chains(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        // Keys come in ascending order of their text, which is not the component order of the map.
        std::vector<std::pair<std::string, const std::vector<std::filesystem::path>*>> entries;
        for (const auto& [path, chain] : record(self).include_chains) {
            entries.emplace_back(composer::path_display(path), &chain);
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        PyRef dict = PyRef::steal(PyDict_New());
        if (!dict) {
            return nullptr;
        }
        for (const auto& [text, chain] : entries) {
            PyRef key = PyRef::steal(to_py_str(text));
            PyRef value = key ? PyRef::steal(path_list(*chain)) : PyRef();
            if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) != 0) {
                return nullptr;
            }
        }
        return dict.release();
    });
}

PyObject* get_composition_sha256(PyObject* self, void*) {
    return guarded([&] { return to_py_str(record(self).composition_sha256.composition_sha256.to_hex()); });
}

PyGetSetDef kGetters[] = {
    {"text", get_text, nullptr, nullptr, nullptr},
    {"resolved_files", get_resolved_files, nullptr, nullptr, nullptr},
    {"frontmatters", get_frontmatters, nullptr,
     "Return the legacy single-frontmatter view for each expanded file.\n\n"
     "This preserves the pre-multi-pass Python shape by returning only the\n"
     "outermost frontmatter block for each file. Use `frontmatter_passes`\n"
     "when callers need the full stacked-header data.",
     nullptr},
    {"frontmatter_passes", get_frontmatter_passes, nullptr,
     "Return every parsed frontmatter block for each expanded file.", nullptr},
    {"include_chains", get_include_chains, nullptr, nullptr, nullptr},
    {"composition_sha256", get_composition_sha256, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_expanded_template_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ExpandedTemplate>)},
        {Py_tp_getset, kGetters},
        {0, nullptr},
    };
    // Results only: no constructor, not subclassable, no __dict__.
    static PyType_Spec spec = {
        "builtins.ExpandedTemplate",
        static_cast<int>(sizeof(Boxed<ExpandedTemplate>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return make_type(spec);
}

}  // namespace

PyTypeObject* expanded_template_type() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_expanded_template_type);
}

PyObject* wrap_expanded_template(composer::ExpandedTemplate expanded) {
    return box(expanded_template_type(), std::move(expanded));
}

}  // namespace zelk::python
