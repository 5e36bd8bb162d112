#include "composer/error/resolve.hpp"

#include "composer/error/display.hpp"

namespace zelk::composer {

ResolveError ResolveError::create(DiagnosticCode code, std::string message,
                                  std::vector<std::filesystem::path> attempted_paths) {
    return ResolveError{code, std::move(message), std::move(attempted_paths), nullptr, Backtrace::capture()};
}

ResolveError ResolveError::with_source(ErrorSource new_source) && {
    source = std::move(new_source);
    return std::move(*this);
}

std::string ResolveError::display() const {
    return write_error_display(message, source, backtrace);
}

}  // namespace zelk::composer
