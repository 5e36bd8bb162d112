#include "python/convert/maps.hpp"

#include <fmt/format.h>

#include "python/args.hpp"
#include "python/convert/basic.hpp"
#include "python/convert/values.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"
#include "python/types/confining_root.hpp"
#include "python/types/named_template_asset.hpp"
#include "python/types/names.hpp"
#include "python/types/pass_config.hpp"

namespace zelk::python {
namespace {

bool is_absent(PyObject* value) {
    return value == nullptr || value == Py_None;
}

// A valid variable name from text; the refusal shows the name twice, once in the reason.
std::optional<composer::VariableName> variable_name_from(std::string text) {
    auto name = composer::VariableName::create(text);
    if (!name) {
        raise_validation_error(fmt::format("invalid variable name `{}`: {}", text, name.error().display()));
        return std::nullopt;
    }
    return std::move(*name);
}

// A present variable map: a dict of names to valid input values.
std::optional<composer::VariableMap> var_map_from(PyObject* value) {
    PyObject* dict = expect_dict(value, "variable maps must be Python dict instances");
    if (dict == nullptr) {
        return std::nullopt;
    }
    composer::VariableMap map;
    const bool read = for_each_dict_item(dict, [&](PyObject* key, PyObject* item) {
        auto text = extract_string_key(key, "variable names must be strings");
        if (!text) {
            return false;
        }
        auto name = variable_name_from(std::move(*text));
        if (!name) {
            return false;
        }
        auto converted = validated_input_value(item);
        if (!converted) {
            return false;
        }
        map.insert_or_assign(std::move(*name), std::move(*converted));
        return true;
    });
    if (!read) {
        return std::nullopt;
    }
    return map;
}

// Collects one converted record per item of an iterable; absent gives an empty list.
template <typename T, typename Convert>
std::optional<std::vector<T>> collect(PyObject* value, Convert&& convert) {
    std::vector<T> items;
    if (is_absent(value)) {
        return items;
    }
    const bool read = for_each_item(value, [&](PyObject* item) {
        std::optional<T> converted = convert(item);
        if (!converted) {
            return false;
        }
        items.push_back(std::move(*converted));
        return true;
    });
    if (!read) {
        return std::nullopt;
    }
    return items;
}

std::optional<std::uint8_t> pass_number_from(PyObject* value) {
    const auto refuse = [] {
        PyErr_Clear();
        raise_validation_error("context pass numbers must be integers");
        return std::nullopt;
    };
    if (!PyIndex_Check(value)) {
        return refuse();
    }
    PyRef index = PyRef::steal(PyNumber_Index(value));
    if (!index) {
        return refuse();
    }
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (overflow != 0 || number < 0 || number > 255 || (number == -1 && PyErr_Occurred())) {
        return refuse();
    }
    return static_cast<std::uint8_t>(number);
}

}  // namespace

std::optional<composer::VariableMap> extract_var_map(PyObject* value) {
    if (is_absent(value)) {
        return composer::VariableMap{};
    }
    return var_map_from(value);
}

std::optional<composer::MetadataMap> extract_metadata_map(PyObject* value) {
    composer::MetadataMap map;
    if (is_absent(value)) {
        return map;
    }
    PyObject* dict = expect_dict(value, "metadata must be a Python dict instance");
    if (dict == nullptr) {
        return std::nullopt;
    }
    const bool read = for_each_dict_item(dict, [&](PyObject* key, PyObject* item) {
        auto text = extract_string_key(key, "metadata keys must be strings");
        if (!text) {
            return false;
        }
        auto converted = py_to_json_value(item);
        if (!converted) {
            return false;
        }
        map.insert_or_assign(std::move(*text), composer::MetadataValue::from_input_value(*converted));
        return true;
    });
    if (!read) {
        return std::nullopt;
    }
    return map;
}

std::optional<std::vector<composer::ConfiningRoot>> extract_allowed_roots(PyObject* value) {
    return collect<composer::ConfiningRoot>(
        value, [](PyObject* item) -> std::optional<composer::ConfiningRoot> {
            if (const composer::ConfiningRoot* root = unwrap_confining_root(item)) {
                return *root;
            }
            auto text = coerce_path_like(item);
            if (!text) {
                return std::nullopt;
            }
            auto canonical = canonicalize_root(*text);
            if (!canonical) {
                return std::nullopt;
            }
            return composer::ConfiningRoot{std::move(*canonical)};
        });
}

std::optional<std::vector<composer::PassConfig>> extract_pass_configs(PyObject* value) {
    return collect<composer::PassConfig>(value, [](PyObject* item) -> std::optional<composer::PassConfig> {
        if (const composer::PassConfig* config = unwrap_pass_config(item)) {
            return *config;
        }
        raise_validation_error("passes entries must be PassConfig instances");
        return std::nullopt;
    });
}

std::optional<std::vector<composer::RenderContext>> extract_pass_contexts(PyObject* value) {
    std::vector<composer::RenderContext> contexts;
    const bool read = for_each_item(value, [&](PyObject* item) {
        if (!PyTuple_Check(item)) {
            raise_validation_error("contexts entries must be (pass_number, variables) tuples");
            return false;
        }
        if (PyTuple_GET_SIZE(item) != 2) {
            raise_validation_error("contexts entries must contain exactly two items");
            return false;
        }
        const auto pass_number = pass_number_from(PyTuple_GET_ITEM(item, 0));
        if (!pass_number) {
            return false;
        }
        auto values = var_map_from(PyTuple_GET_ITEM(item, 1));
        if (!values) {
            return false;
        }
        contexts.push_back(composer::RenderContext{*pass_number, std::move(*values)});
        return true;
    });
    if (!read) {
        return std::nullopt;
    }
    return contexts;
}

std::optional<std::vector<composer::VariableName>> extract_variable_names(PyObject* value) {
    return collect<composer::VariableName>(
        value, [](PyObject* item) -> std::optional<composer::VariableName> {
            if (const composer::VariableName* name = unwrap_variable_name(item)) {
                return *name;
            }
            if (!PyUnicode_Check(item)) {
                raise_validation_error(
                    "required_variables entries must be strings or VariableName instances");
                return std::nullopt;
            }
            auto text = utf8_text(item);
            if (!text) {
                return std::nullopt;
            }
            return variable_name_from(std::move(*text));
        });
}

std::optional<composer::ProfileName> extract_profile_name(PyObject* value) {
    if (const composer::ProfileName* name = unwrap_profile_name(value)) {
        return *name;
    }
    auto text = str_argument(value, "name");
    if (!text) {
        return std::nullopt;
    }
    auto name = composer::ProfileName::create(std::move(*text));
    if (!name) {
        raise_config_error(name.error().display(), composer::as_str(composer::DiagnosticCode::ErrConfigMode));
        return std::nullopt;
    }
    return std::move(*name);
}

std::optional<std::vector<composer::NamedTemplateAsset>> extract_supporting_templates(PyObject* value) {
    return collect<composer::NamedTemplateAsset>(
        value, [](PyObject* item) -> std::optional<composer::NamedTemplateAsset> {
            if (const composer::NamedTemplateAsset* asset = unwrap_named_template_asset(item)) {
                return *asset;
            }
            PyErr_Format(PyExc_TypeError,
                         "supporting templates must be NamedTemplateAsset instances, not %.200s",
                         Py_TYPE(item)->tp_name);
            return std::nullopt;
        });
}

}  // namespace zelk::python
