#pragma once

#include <string>
#include <vector>

#include "composer/diagnostics/record.hpp"
#include "composer/diagnostics/schema.hpp"
#include "composer/error/backtrace.hpp"
#include "composer/error/recovery.hpp"
#include "composer/error/source.hpp"
#include "composer/types/names.hpp"

namespace zelk::composer {

/// A composition refused because its inputs or templates do not validate.
struct ValidationError {
    DiagnosticCode code;
    /// The diagnostics formatted one per line.
    std::string message;
    std::vector<Diagnostic> diagnostics;
    std::vector<RecoveryHint> recovery_hints;
    ErrorSource source;
    Backtrace backtrace;

    /// Code of the first diagnostic (ERR_VAL_EMPTY for none), message of all diagnostics
    /// formatted and joined by "\n", and an InspectPath hint for the first diagnostic with a path.
    static ValidationError from_diagnostics(std::vector<Diagnostic> diagnostics);
    /// ERR_VAL_DUPLICATE, "duplicate frontmatter variable declaration: {name}", hint to
    /// review "required_variables".
    static ValidationError duplicate_variable(const VariableName& name);
    /// Message, cause chain and trace (see write_error_display).
    std::string display() const;
};

}  // namespace zelk::composer
