#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "composer/diagnostics/schema.hpp"
#include "composer/error/backtrace.hpp"
#include "composer/error/source.hpp"

namespace zelk::composer {

/// A failure while expanding include directives.
struct IncludeError {
    DiagnosticCode code;
    std::string message;
    /// The include chain at the point of failure.
    std::vector<std::filesystem::path> include_chain;
    ErrorSource source;
    Backtrace backtrace;

    /// No source; captures the stack trace.
    static IncludeError create(DiagnosticCode code, std::string message,
                               std::vector<std::filesystem::path> include_chain);
    /// The error with `source` replacing any earlier one.
    IncludeError with_source(ErrorSource new_source) &&;
    /// Message, cause chain and trace (see write_error_display).
    std::string display() const;
};

}  // namespace zelk::composer
