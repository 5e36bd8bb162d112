#include "composer/error/include.hpp"

#include "composer/error/display.hpp"

namespace zelk::composer {

IncludeError IncludeError::create(DiagnosticCode code, std::string message,
                                  std::vector<std::filesystem::path> include_chain) {
    return IncludeError{code, std::move(message), std::move(include_chain), nullptr, Backtrace::capture()};
}

IncludeError IncludeError::with_source(ErrorSource new_source) && {
    source = std::move(new_source);
    return std::move(*this);
}

std::string IncludeError::display() const {
    return write_error_display(message, source, backtrace);
}

}  // namespace zelk::composer
