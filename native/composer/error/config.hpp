#pragma once

#include <string>
#include <vector>

#include "composer/diagnostics/schema.hpp"
#include "composer/error/backtrace.hpp"
#include "composer/error/recovery.hpp"
#include "composer/error/source.hpp"

namespace zelk::composer {

/// A configuration failure: bad options or arguments, unreadable or unwritable state.
struct ConfigError {
    DiagnosticCode code;
    std::string message;
    std::vector<RecoveryHint> recovery_hints;
    ErrorSource source;
    Backtrace backtrace;

    /// No hints, no source; captures the stack trace.
    static ConfigError create(DiagnosticCode code, std::string message);
    /// The error with `source` replacing any earlier one.
    ConfigError with_source(ErrorSource new_source) &&;
    /// The error with `hint` appended to its hints.
    ConfigError with_recovery_hint(RecoveryHint hint) &&;
    /// Message, cause chain and trace (see write_error_display).
    std::string display() const;
};

}  // namespace zelk::composer
