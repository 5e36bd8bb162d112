#pragma once
// One finding about a template or its inputs.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "composer/diagnostics/schema.hpp"

namespace zelk::composer {

/// A diagnostic: plain value, compared field by field. Producers start from `create` and
/// fill in what they know.
struct Diagnostic {
    DiagnosticSeverity severity = DiagnosticSeverity::Error;
    DiagnosticCode code = DiagnosticCode::ErrValEmpty;
    /// A complete sentence without trailing newline.
    std::string message;
    std::optional<std::filesystem::path> path;
    /// Counted from 1.
    std::optional<std::uint64_t> line;
    /// Counted from 1.
    std::optional<std::uint64_t> column;
    /// Files through which the concerned file was reached from the root template.
    std::vector<std::filesystem::path> include_chain;

    /// A diagnostic with no location and an empty include chain.
    static Diagnostic create(DiagnosticSeverity severity, DiagnosticCode code, std::string message);

    /// The same diagnostic with `path` replaced.
    Diagnostic with_path(std::filesystem::path new_path) &&;
    /// Copying form of `with_path`.
    Diagnostic with_path(std::filesystem::path new_path) const&;

    bool operator==(const Diagnostic&) const = default;
};

/// One line: "{code}: {message}", then " | location={path}[:{line}:{column}]" when a path is
/// known, then " | include_chain={a} -> {b}" when the chain is non-empty.
std::string format_diagnostic_message(const Diagnostic& diagnostic);

}  // namespace zelk::composer
