#include "python/enums.hpp"

#include <array>
#include <span>
#include <string>

#include "composer/diagnostics/schema.hpp"
#include "python/args.hpp"
#include "python/errors.hpp"
#include "python/object.hpp"
#include "python/py_ref.hpp"

namespace zelk::python {
namespace {

using composer::DiagnosticCode;

struct Member {
    std::string_view attribute;
    std::string_view value;
};

// The members of the Python class, in class order: codes without a member are still shown as
// texts wherever the core reports them.
constexpr std::array kPythonDiagnosticCodes = {
    DiagnosticCode::ErrResolveNotFound,
    DiagnosticCode::ErrResolveAmbiguous,
    DiagnosticCode::ErrIncludeEscape,
    DiagnosticCode::ErrIncludeNotFound,
    DiagnosticCode::ErrIncludeCycle,
    DiagnosticCode::ErrIncludeDepth,
    DiagnosticCode::ErrValObjectShape,
    DiagnosticCode::ErrValNestedArrayUnsupported,
    DiagnosticCode::ErrValDuplicate,
    DiagnosticCode::WarnValConflictingDefaultSections,
    DiagnosticCode::WarnLintRedundantFilterChain,
    DiagnosticCode::ErrValEmpty,
    DiagnosticCode::ErrValMissingFrontmatter,
    DiagnosticCode::ErrValMissingRequired,
    DiagnosticCode::ErrValMissingNestedField,
    DiagnosticCode::ErrValShapeMismatch,
    DiagnosticCode::ErrValUndeclaredToken,
    DiagnosticCode::ErrValExtraInput,
    DiagnosticCode::ErrValUnboundVariable,
    DiagnosticCode::InfoValDefaultUsed,
    DiagnosticCode::ErrRenderStdinDoubleRead,
    DiagnosticCode::ErrRenderWrite,
    DiagnosticCode::ErrConfigReadonly,
    DiagnosticCode::ErrConfigMode,
    DiagnosticCode::ErrConfigParse,
    DiagnosticCode::ErrConfigVarfile,
    DiagnosticCode::ErrConfigPackNotFound,
    DiagnosticCode::ErrConfigPackNotRenderable,
    DiagnosticCode::ErrConfigTemplateExists,
    DiagnosticCode::ErrExtractInvalidRequest,
    DiagnosticCode::ErrExtractMalformed,
    DiagnosticCode::ErrExtractUnsupported,
    DiagnosticCode::ErrExtractTemplateUnsupported,
    DiagnosticCode::ErrExtractXmlElementMismatch,
    DiagnosticCode::ErrExtractXmlAttributeMismatch,
    DiagnosticCode::ErrExtractXmlChildStructureMismatch,
    DiagnosticCode::ErrExtractXmlStaticMismatch,
    DiagnosticCode::ErrExtractXmlControlFlowUnsupported,
    DiagnosticCode::ErrExtractXmlDynamicElementName,
    DiagnosticCode::ErrExtractXmlNamespaceUnsupported,
    DiagnosticCode::ErrExtractAmbiguous,
    DiagnosticCode::ErrExtractFormatUnsupported,
    DiagnosticCode::ErrExtractJsonMalformed,
    DiagnosticCode::ErrExtractJsonDuplicateKey,
    DiagnosticCode::ErrExtractJsonPathMissing,
    DiagnosticCode::ErrExtractJsonShapeMismatch,
    DiagnosticCode::ErrExtractJsonValueUnsupported,
    DiagnosticCode::ErrExtractJsonAmbiguous,
    DiagnosticCode::ErrExtractYamlMalformed,
    DiagnosticCode::ErrExtractYamlDuplicateKey,
    DiagnosticCode::ErrExtractYamlAliasUnsupported,
    DiagnosticCode::ErrExtractYamlDocumentStream,
    DiagnosticCode::ErrExtractYamlPathMissing,
    DiagnosticCode::ErrExtractYamlShapeMismatch,
    DiagnosticCode::ErrExtractYamlValueUnsupported,
    DiagnosticCode::ErrExtractYamlAmbiguous,
    DiagnosticCode::ErrExtractTomlMalformed,
    DiagnosticCode::ErrExtractInputLimit,
    DiagnosticCode::ErrExtractTomlDuplicateKey,
    DiagnosticCode::ErrExtractTomlPathMissing,
    DiagnosticCode::ErrExtractTomlShapeMismatch,
    DiagnosticCode::ErrExtractTomlValueUnsupported,
    DiagnosticCode::ErrExtractTomlAmbiguous,
    DiagnosticCode::ErrJsonEscapeModeNonJson,
    DiagnosticCode::ErrJsonLegacyNonString,
    DiagnosticCode::ErrJsonModeContract,
    DiagnosticCode::ErrJsonModeIncludeConflict,
    DiagnosticCode::WarnJsonLegacyEscapeMode,
    DiagnosticCode::WarnJsonQuotedPlaceholder,
    DiagnosticCode::WarnExtractNotObserved,
    DiagnosticCode::WarnExtractLowConfidence,
    DiagnosticCode::WarnExtractDirtyPrefixStripped,
};

// Each code member is named by its own text.
template <std::size_t N>
std::array<Member, N> diagnostic_code_members(const std::array<DiagnosticCode, N>& codes) {
    std::array<Member, N> members{};
    for (std::size_t i = 0; i < N; ++i) {
        members[i] = {composer::as_str(codes[i]), composer::as_str(codes[i])};
    }
    return members;
}

const std::array<Member, 5> kRuntimeKindMembers = {{
    {"CLAUDE", "claude"},
    {"HERMES", "hermes"},
    {"CODEX", "codex"},
    {"GEMINI", "gemini"},
    {"OPENCODE", "opencode"},
}};
const std::array<Member, 3> kProfileKindMembers = {
    {{"AGENT", "agent"}, {"COMMAND", "command"}, {"SKILL", "skill"}}};
const std::array<Member, 3> kUnknownVariablePolicyMembers = {
    {{"ERROR", "error"}, {"WARN", "warn"}, {"IGNORE", "ignore"}}};
const std::array<Member, 2> kJsonEscapeModeMembers = {{{"AUTO", "auto"}, {"LEGACY", "legacy"}}};
const std::array<Member, 6> kVariableSourceMembers = {{
    {"EXPLICIT_INPUT", "explicit_input"},
    {"ENVIRONMENT", "environment"},
    {"BUILTIN", "builtin"},
    {"TEMPLATE_INPUT_DEFAULT", "template_input_default"},
    {"FRONTMATTER_DEFAULT", "frontmatter_default"},
    {"INCLUDED_DEFAULT", "included_default"},
}};
const std::array<Member, 3> kDiagnosticSeverityMembers = {
    {{"ERROR", "error"}, {"WARNING", "warning"}, {"INFO", "info"}}};
const auto kDiagnosticCodeMembers = diagnostic_code_members(kPythonDiagnosticCodes);

struct ConstantClass {
    const char* qualified_name;
    const char* name;
    std::span<const Member> members;
};

// In registration order.
const std::array<ConstantClass, 7> kConstantClasses = {{
    {"builtins.RuntimeKind", "RuntimeKind", kRuntimeKindMembers},
    {"builtins.ProfileKind", "ProfileKind", kProfileKindMembers},
    {"builtins.UnknownVariablePolicy", "UnknownVariablePolicy", kUnknownVariablePolicyMembers},
    {"builtins.JsonEscapeMode", "JsonEscapeMode", kJsonEscapeModeMembers},
    {"builtins.VariableSource", "VariableSource", kVariableSourceMembers},
    {"builtins.DiagnosticSeverity", "DiagnosticSeverity", kDiagnosticSeverityMembers},
    {"builtins.DiagnosticCode", "DiagnosticCode", kDiagnosticCodeMembers},
}};

// A class that cannot be called, subclassed or changed, whose only attributes are its members.
template <std::size_t I>
PyTypeObject* create_constant_class() {
    const ConstantClass& definition = kConstantClasses[I];
    static PyType_Slot slots[] = {{0, nullptr}};
    static PyType_Spec spec = {
        definition.qualified_name,
        static_cast<int>(sizeof(PyObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    PyRef type = PyRef::steal(reinterpret_cast<PyObject*>(make_type(spec)));
    if (!type) {
        return nullptr;
    }
    // Immutable classes refuse setattr; members go straight into the class dictionary, once.
    PyObject* dict = reinterpret_cast<PyTypeObject*>(type.get())->tp_dict;
    for (const Member& member : definition.members) {
        PyObject* key_object = to_py_str(member.attribute);
        if (key_object != nullptr) {
            PyUnicode_InternInPlace(&key_object);
        }
        PyRef key = PyRef::steal(key_object);
        PyRef value = PyRef::steal(to_py_str(member.value));
        if (!key || !value || PyDict_SetItem(dict, key.get(), value.get()) != 0) {
            return nullptr;
        }
    }
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type.get()));
    return reinterpret_cast<PyTypeObject*>(type.release());
}

template <std::size_t I>
PyTypeObject* constant_class() {
    static PyTypeObject* type = nullptr;
    return lazy_type(type, create_constant_class<I>);
}

template <std::size_t... I>
int register_all(PyObject* module, std::index_sequence<I...>) {
    int status = 0;
    // Stops at the first failure, in registration order.
    ((status = status == 0 ? PyModule_AddObjectRef(module, kConstantClasses[I].name,
                                                   reinterpret_cast<PyObject*>(constant_class<I>()))
                           : status),
     ...);
    return status;
}

template <typename T>
std::optional<T> parsed_or_config_error(std::optional<T> parsed, std::string_view prefix,
                                        std::string_view text) {
    if (!parsed) {
        raise_config_error(std::string(prefix) + std::string(text),
                           composer::as_str(DiagnosticCode::ErrConfigMode));
    }
    return parsed;
}

}  // namespace

int register_enums(PyObject* module) {
    return register_all(module, std::make_index_sequence<kConstantClasses.size()>{});
}

std::optional<composer::ProfileKind> parse_profile_kind(PyObject* value, const char* parameter) {
    const auto text = str_argument(value, parameter);
    if (!text) {
        return std::nullopt;
    }
    return parsed_or_config_error(composer::profile_kind_from_str(*text), "unknown profile kind: ", *text);
}

std::optional<composer::RuntimeKind> parse_runtime_kind(PyObject* value, const char* parameter) {
    const auto text = str_argument(value, parameter);
    if (!text) {
        return std::nullopt;
    }
    return parsed_or_config_error(composer::runtime_kind_from_str(*text), "unknown runtime kind: ", *text);
}

std::optional<composer::UnknownVariablePolicy> parse_unknown_variable_policy(std::string_view text) {
    return parsed_or_config_error(composer::unknown_variable_policy_from_str(text),
                                  "unknown unknown-variable policy: ", text);
}

std::optional<composer::JsonEscapeMode> parse_json_escape_mode(std::string_view text) {
    return parsed_or_config_error(composer::json_escape_mode_from_str(text),
                                  "unknown JSON escape mode: ", text);
}

std::optional<composer::ExtractFormat> parse_extract_format(std::string_view text) {
    auto format = composer::extract_format_from_str(text);
    if (!format) {
        raise_config_error_with_recovery_hints("unsupported extraction format `" + std::string(text) +
                                                   "`; use `xml`, `json`, `yaml`, `toml`, or `raw`",
                                               composer::as_str(DiagnosticCode::ErrExtractFormatUnsupported),
                                               {"set format to `xml`, `json`, `yaml`, `toml`, or `raw`"});
    }
    return format;
}

}  // namespace zelk::python
