#include "composer/error/config.hpp"

#include "composer/error/display.hpp"

namespace zelk::composer {

ConfigError ConfigError::create(DiagnosticCode code, std::string message) {
    return ConfigError{code, std::move(message), {}, nullptr, Backtrace::capture()};
}

ConfigError ConfigError::with_source(ErrorSource new_source) && {
    source = std::move(new_source);
    return std::move(*this);
}

ConfigError ConfigError::with_recovery_hint(RecoveryHint hint) && {
    recovery_hints.push_back(std::move(hint));
    return std::move(*this);
}

std::string ConfigError::display() const {
    return write_error_display(message, source, backtrace);
}

}  // namespace zelk::composer
