#include "composer/error/render.hpp"

namespace zelk::composer {

RenderError RenderError::create(DiagnosticCode code, std::string message) {
    return RenderError{code, std::move(message), nullptr, Backtrace::capture()};
}

std::string RenderError::display() const {
    return "template rendering failed";
}

}  // namespace zelk::composer
