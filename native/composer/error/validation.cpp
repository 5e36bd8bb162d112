#include "composer/error/validation.hpp"

#include <fmt/format.h>

#include "composer/error/display.hpp"

namespace zelk::composer {

ValidationError ValidationError::from_diagnostics(std::vector<Diagnostic> diagnostics) {
    ValidationError error{DiagnosticCode::ErrValEmpty, {}, {}, {}, nullptr, Backtrace::capture()};
    if (!diagnostics.empty()) {
        error.code = diagnostics.front().code;
    }
    bool first = true;
    for (const Diagnostic& d : diagnostics) {
        if (!first) {
            error.message += '\n';
        }
        first = false;
        error.message += format_diagnostic_message(d);
    }
    for (const Diagnostic& d : diagnostics) {
        if (d.path) {
            error.recovery_hints.emplace_back(RecoveryHint::InspectPath{*d.path});
            break;
        }
    }
    error.diagnostics = std::move(diagnostics);
    return error;
}

ValidationError ValidationError::duplicate_variable(const VariableName& name) {
    ValidationError error{DiagnosticCode::ErrValDuplicate,
                          fmt::format("duplicate frontmatter variable declaration: {}", name.as_str()),
                          {},
                          {},
                          nullptr,
                          Backtrace::capture()};
    error.recovery_hints.emplace_back(RecoveryHint::ReviewConfiguration{"required_variables"});
    return error;
}

std::string ValidationError::display() const {
    return write_error_display(message, source, backtrace);
}

}  // namespace zelk::composer
