#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "composer/diagnostics/schema.hpp"
#include "composer/error/backtrace.hpp"
#include "composer/error/source.hpp"

namespace zelk::composer {

/// A failure to locate a template from a path or a profile.
struct ResolveError {
    DiagnosticCode code;
    std::string message;
    /// The candidate or template paths the failure concerns.
    std::vector<std::filesystem::path> attempted_paths;
    ErrorSource source;
    Backtrace backtrace;

    /// No source; captures the stack trace.
    static ResolveError create(DiagnosticCode code, std::string message,
                               std::vector<std::filesystem::path> attempted_paths);
    /// The error with `source` replacing any earlier one.
    ResolveError with_source(ErrorSource new_source) &&;
    /// Message, cause chain and trace (see write_error_display).
    std::string display() const;
};

}  // namespace zelk::composer
