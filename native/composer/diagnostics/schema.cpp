#include "composer/diagnostics/schema.hpp"

#include <cstdlib>

namespace zelk::composer {
namespace {

struct CodeEntry {
    DiagnosticCode code;
    std::string_view text;
    bool in_python;
};

// Indexed by the code's numeric value; the static_assert below keeps the two in step.
constexpr std::array<CodeEntry, kDiagnosticCodeCount> kCodes{{
    {DiagnosticCode::ErrResolveNotFound, "ERR_RESOLVE_NOT_FOUND", true},
    {DiagnosticCode::ErrResolveAmbiguous, "ERR_RESOLVE_AMBIGUOUS", true},
    {DiagnosticCode::ErrIncludeEscape, "ERR_INCLUDE_ESCAPE", true},
    {DiagnosticCode::ErrIncludeNotFound, "ERR_INCLUDE_NOT_FOUND", true},
    {DiagnosticCode::ErrIncludePermissionDenied, "ERR_INCLUDE_PERMISSION_DENIED", false},
    {DiagnosticCode::ErrIncludeIsADirectory, "ERR_INCLUDE_IS_A_DIRECTORY", false},
    {DiagnosticCode::ErrIncludeFilesystemLoop, "ERR_INCLUDE_FILESYSTEM_LOOP", false},
    {DiagnosticCode::ErrIncludeCycle, "ERR_INCLUDE_CYCLE", true},
    {DiagnosticCode::ErrIncludeDepth, "ERR_INCLUDE_DEPTH", true},
    {DiagnosticCode::ErrIncludeDynamicUnresolved, "ERR_INCLUDE_DYNAMIC_UNRESOLVED", false},
    {DiagnosticCode::ErrValObjectShape, "ERR_VAL_OBJECT_SHAPE", true},
    {DiagnosticCode::ErrValNestedArrayUnsupported, "ERR_VAL_NESTED_ARRAY_UNSUPPORTED", true},
    {DiagnosticCode::ErrValDuplicate, "ERR_VAL_DUPLICATE", true},
    {DiagnosticCode::WarnValConflictingDefaultSections, "WARN_VAL_CONFLICTING_DEFAULT_SECTIONS", true},
    {DiagnosticCode::WarnConfigSinglePassAllFallback, "WARN_CONFIG_SINGLE_PASS_ALL_FALLBACK", false},
    {DiagnosticCode::WarnLintRedundantFilterChain, "WARN_LINT_REDUNDANT_FILTER_CHAIN", true},
    {DiagnosticCode::WarnJsonLegacyEscapeMode, "WARN_JSON_LEGACY_ESCAPE_MODE", true},
    {DiagnosticCode::WarnJsonQuotedPlaceholder, "WARN_JSON_QUOTED_PLACEHOLDER", true},
    {DiagnosticCode::ErrJsonModeContract, "ERR_JSON_MODE_CONTRACT", true},
    {DiagnosticCode::ErrJsonModeIncludeConflict, "ERR_JSON_MODE_INCLUDE_CONFLICT", true},
    {DiagnosticCode::ErrValEmpty, "ERR_VAL_EMPTY", true},
    {DiagnosticCode::ErrValMissingFrontmatter, "ERR_VAL_MISSING_FRONTMATTER", true},
    {DiagnosticCode::ErrValMissingRequired, "ERR_VAL_MISSING_REQUIRED", true},
    {DiagnosticCode::ErrValMissingNestedField, "ERR_VAL_MISSING_NESTED_FIELD", true},
    {DiagnosticCode::ErrValShapeMismatch, "ERR_VAL_SHAPE_MISMATCH", true},
    {DiagnosticCode::ErrValArrayShapeMismatch, "ERR_VAL_ARRAY_SHAPE_MISMATCH", false},
    {DiagnosticCode::ErrValUndeclaredToken, "ERR_VAL_UNDECLARED_TOKEN", true},
    {DiagnosticCode::ErrValExtraInput, "ERR_VAL_EXTRA_INPUT", true},
    {DiagnosticCode::ErrValUnboundVariable, "ERR_VAL_UNBOUND_VARIABLE", true},
    {DiagnosticCode::InfoValDefaultUsed, "INFO_VAL_DEFAULT_USED", true},
    {DiagnosticCode::ErrRenderStdinDoubleRead, "ERR_RENDER_STDIN_DOUBLE_READ", true},
    {DiagnosticCode::ErrRenderWrite, "ERR_RENDER_WRITE", true},
    {DiagnosticCode::ErrConfigReadonly, "ERR_CONFIG_READONLY", true},
    {DiagnosticCode::ErrConfigMode, "ERR_CONFIG_MODE", true},
    {DiagnosticCode::ErrJsonEscapeModeNonJson, "ERR_JSON_ESCAPE_MODE_NON_JSON", true},
    {DiagnosticCode::ErrJsonLegacyNonString, "ERR_JSON_LEGACY_NON_STRING", true},
    {DiagnosticCode::ErrRenderJsonMalformed, "ERR_RENDER_JSON_MALFORMED", false},
    {DiagnosticCode::ErrConfigRead, "ERR_CONFIG_READ", false},
    {DiagnosticCode::ErrConfigParse, "ERR_CONFIG_PARSE", true},
    {DiagnosticCode::ErrConfigVarfile, "ERR_CONFIG_VARFILE", true},
    {DiagnosticCode::ErrConfigPackNotFound, "ERR_CONFIG_PACK_NOT_FOUND", true},
    {DiagnosticCode::ErrConfigHelpTopicNotFound, "ERR_CONFIG_HELP_TOPIC_NOT_FOUND", false},
    {DiagnosticCode::ErrConfigPackNotRenderable, "ERR_CONFIG_PACK_NOT_RENDERABLE", true},
    {DiagnosticCode::ErrConfigTemplateExists, "ERR_CONFIG_TEMPLATE_EXISTS", true},
    {DiagnosticCode::ErrExtractInvalidRequest, "ERR_EXTRACT_INVALID_REQUEST", true},
    {DiagnosticCode::ErrExtractMalformed, "ERR_EXTRACT_MALFORMED", true},
    {DiagnosticCode::ErrExtractUnsupported, "ERR_EXTRACT_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractAmbiguous, "ERR_EXTRACT_AMBIGUOUS", true},
    {DiagnosticCode::WarnExtractNotObserved, "WARN_EXTRACT_NOT_OBSERVED", true},
    {DiagnosticCode::WarnExtractLowConfidence, "WARN_EXTRACT_LOW_CONFIDENCE", true},
    {DiagnosticCode::WarnExtractDirtyPrefixStripped, "WARN_EXTRACT_DIRTY_PREFIX_STRIPPED", true},
    {DiagnosticCode::ErrExtractJsonMalformed, "ERR_EXTRACT_JSON_MALFORMED", true},
    {DiagnosticCode::ErrExtractJsonDuplicateKey, "ERR_EXTRACT_JSON_DUPLICATE_KEY", true},
    {DiagnosticCode::ErrExtractJsonPathMissing, "ERR_EXTRACT_JSON_PATH_MISSING", true},
    {DiagnosticCode::ErrExtractJsonShapeMismatch, "ERR_EXTRACT_JSON_SHAPE_MISMATCH", true},
    {DiagnosticCode::ErrExtractJsonValueUnsupported, "ERR_EXTRACT_JSON_VALUE_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractJsonAmbiguous, "ERR_EXTRACT_JSON_AMBIGUOUS", true},
    {DiagnosticCode::ErrExtractTemplateUnsupported, "ERR_EXTRACT_TEMPLATE_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractXmlElementMismatch, "ERR_EXTRACT_XML_ELEMENT_MISMATCH", true},
    {DiagnosticCode::ErrExtractXmlAttributeMismatch, "ERR_EXTRACT_XML_ATTRIBUTE_MISMATCH", true},
    {DiagnosticCode::ErrExtractXmlChildStructureMismatch, "ERR_EXTRACT_XML_CHILD_STRUCTURE_MISMATCH", true},
    {DiagnosticCode::ErrExtractXmlStaticMismatch, "ERR_EXTRACT_XML_STATIC_MISMATCH", true},
    {DiagnosticCode::ErrExtractXmlControlFlowUnsupported, "ERR_EXTRACT_XML_CONTROL_FLOW_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractXmlDynamicElementName, "ERR_EXTRACT_XML_DYNAMIC_ELEMENT_NAME", true},
    {DiagnosticCode::ErrExtractXmlNamespaceUnsupported, "ERR_EXTRACT_XML_NAMESPACE_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractFormatUnsupported, "ERR_EXTRACT_FORMAT_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractYamlMalformed, "ERR_EXTRACT_YAML_MALFORMED", true},
    {DiagnosticCode::ErrExtractYamlDuplicateKey, "ERR_EXTRACT_YAML_DUPLICATE_KEY", true},
    {DiagnosticCode::ErrExtractYamlAliasUnsupported, "ERR_EXTRACT_YAML_ALIAS_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractYamlDocumentStream, "ERR_EXTRACT_YAML_DOCUMENT_STREAM", true},
    {DiagnosticCode::ErrExtractYamlPathMissing, "ERR_EXTRACT_YAML_PATH_MISSING", true},
    {DiagnosticCode::ErrExtractYamlShapeMismatch, "ERR_EXTRACT_YAML_SHAPE_MISMATCH", true},
    {DiagnosticCode::ErrExtractYamlValueUnsupported, "ERR_EXTRACT_YAML_VALUE_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractYamlAmbiguous, "ERR_EXTRACT_YAML_AMBIGUOUS", true},
    {DiagnosticCode::ErrExtractTomlMalformed, "ERR_EXTRACT_TOML_MALFORMED", true},
    {DiagnosticCode::ErrExtractInputLimit, "ERR_EXTRACT_INPUT_LIMIT", true},
    {DiagnosticCode::ErrExtractTomlDuplicateKey, "ERR_EXTRACT_TOML_DUPLICATE_KEY", true},
    {DiagnosticCode::ErrExtractTomlPathMissing, "ERR_EXTRACT_TOML_PATH_MISSING", true},
    {DiagnosticCode::ErrExtractTomlShapeMismatch, "ERR_EXTRACT_TOML_SHAPE_MISMATCH", true},
    {DiagnosticCode::ErrExtractTomlValueUnsupported, "ERR_EXTRACT_TOML_VALUE_UNSUPPORTED", true},
    {DiagnosticCode::ErrExtractTomlAmbiguous, "ERR_EXTRACT_TOML_AMBIGUOUS", true},
}};

constexpr bool codes_in_order() {
    for (std::size_t i = 0; i < kCodes.size(); ++i) {
        if (static_cast<std::size_t>(kCodes[i].code) != i) {
            return false;
        }
    }
    return true;
}
static_assert(codes_in_order());
static_assert(static_cast<std::size_t>(DiagnosticCode::ErrExtractTomlAmbiguous) + 1 == kDiagnosticCodeCount);

constexpr std::array<DiagnosticCode, kDiagnosticCodeCount> make_all_codes() {
    std::array<DiagnosticCode, kDiagnosticCodeCount> all{};
    for (std::size_t i = 0; i < kCodes.size(); ++i) {
        all[i] = kCodes[i].code;
    }
    return all;
}
constexpr std::array<DiagnosticCode, kDiagnosticCodeCount> kAllCodes = make_all_codes();

const CodeEntry& entry(DiagnosticCode code) {
    const auto index = static_cast<std::size_t>(code);
    if (index >= kCodes.size()) {
        // Only a value forged by a cast gets here; there is no text to give it.
        std::abort();
    }
    return kCodes[index];
}

}  // namespace

std::string_view as_str(DiagnosticCode code) {
    return entry(code).text;
}

std::optional<DiagnosticCode> diagnostic_code_from_str(std::string_view text) {
    for (const CodeEntry& e : kCodes) {
        if (e.text == text) {
            return e.code;
        }
    }
    return std::nullopt;
}

bool in_python_enumeration(DiagnosticCode code) {
    return entry(code).in_python;
}

const std::array<DiagnosticCode, kDiagnosticCodeCount>& all_diagnostic_codes() {
    return kAllCodes;
}

std::string_view as_str(DiagnosticSeverity severity) {
    switch (severity) {
        case DiagnosticSeverity::Error:
            return "error";
        case DiagnosticSeverity::Warning:
            return "warning";
        case DiagnosticSeverity::Info:
            return "info";
    }
    std::abort();
}

}  // namespace zelk::composer
