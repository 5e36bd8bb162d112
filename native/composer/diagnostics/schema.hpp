#pragma once
// The closed table of machine-readable diagnostic codes and the diagnostic severities.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zelk::composer {

/// Every diagnostic code; the declaration order is the numeric value (0 to 80) and is stable.
enum class DiagnosticCode : std::uint8_t {
    ErrResolveNotFound,
    ErrResolveAmbiguous,
    ErrIncludeEscape,
    ErrIncludeNotFound,
    ErrIncludePermissionDenied,
    ErrIncludeIsADirectory,
    ErrIncludeFilesystemLoop,
    ErrIncludeCycle,
    ErrIncludeDepth,
    ErrIncludeDynamicUnresolved,
    ErrValObjectShape,
    ErrValNestedArrayUnsupported,
    ErrValDuplicate,
    WarnValConflictingDefaultSections,
    WarnConfigSinglePassAllFallback,
    WarnLintRedundantFilterChain,
    WarnJsonLegacyEscapeMode,
    WarnJsonQuotedPlaceholder,
    ErrJsonModeContract,
    ErrJsonModeIncludeConflict,
    ErrValEmpty,
    ErrValMissingFrontmatter,
    ErrValMissingRequired,
    ErrValMissingNestedField,
    ErrValShapeMismatch,
    ErrValArrayShapeMismatch,
    ErrValUndeclaredToken,
    ErrValExtraInput,
    ErrValUnboundVariable,
    InfoValDefaultUsed,
    ErrRenderStdinDoubleRead,
    ErrRenderWrite,
    ErrConfigReadonly,
    ErrConfigMode,
    ErrJsonEscapeModeNonJson,
    ErrJsonLegacyNonString,
    ErrRenderJsonMalformed,
    ErrConfigRead,
    ErrConfigParse,
    ErrConfigVarfile,
    ErrConfigPackNotFound,
    ErrConfigHelpTopicNotFound,
    ErrConfigPackNotRenderable,
    ErrConfigTemplateExists,
    ErrExtractInvalidRequest,
    ErrExtractMalformed,
    ErrExtractUnsupported,
    ErrExtractAmbiguous,
    WarnExtractNotObserved,
    WarnExtractLowConfidence,
    WarnExtractDirtyPrefixStripped,
    ErrExtractJsonMalformed,
    ErrExtractJsonDuplicateKey,
    ErrExtractJsonPathMissing,
    ErrExtractJsonShapeMismatch,
    ErrExtractJsonValueUnsupported,
    ErrExtractJsonAmbiguous,
    ErrExtractTemplateUnsupported,
    ErrExtractXmlElementMismatch,
    ErrExtractXmlAttributeMismatch,
    ErrExtractXmlChildStructureMismatch,
    ErrExtractXmlStaticMismatch,
    ErrExtractXmlControlFlowUnsupported,
    ErrExtractXmlDynamicElementName,
    ErrExtractXmlNamespaceUnsupported,
    ErrExtractFormatUnsupported,
    ErrExtractYamlMalformed,
    ErrExtractYamlDuplicateKey,
    ErrExtractYamlAliasUnsupported,
    ErrExtractYamlDocumentStream,
    ErrExtractYamlPathMissing,
    ErrExtractYamlShapeMismatch,
    ErrExtractYamlValueUnsupported,
    ErrExtractYamlAmbiguous,
    ErrExtractTomlMalformed,
    ErrExtractInputLimit,
    ErrExtractTomlDuplicateKey,
    ErrExtractTomlPathMissing,
    ErrExtractTomlShapeMismatch,
    ErrExtractTomlValueUnsupported,
    ErrExtractTomlAmbiguous,
};

/// Number of members of `DiagnosticCode`.
inline constexpr std::size_t kDiagnosticCodeCount = 81;

/// The stable identifier text of a code, for example "ERR_VAL_MISSING_REQUIRED".
std::string_view as_str(DiagnosticCode code);

/// The code whose identifier text is `text`, if any.
std::optional<DiagnosticCode> diagnostic_code_from_str(std::string_view text);

/// Whether the code is a member of the Python `DiagnosticCode` constant class; nine
/// codes reach Python only as texts.
bool in_python_enumeration(DiagnosticCode code);

/// Every code in declaration order.
const std::array<DiagnosticCode, kDiagnosticCodeCount>& all_diagnostic_codes();

/// How serious a finding is; a report files errors apart from warnings and infos.
enum class DiagnosticSeverity : std::uint8_t { Error, Warning, Info };

/// "error", "warning" or "info".
std::string_view as_str(DiagnosticSeverity severity);

}  // namespace zelk::composer
