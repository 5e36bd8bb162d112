#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <utility>

#include "composer/diagnostics/schema.hpp"
#include "composer/error/backtrace.hpp"
#include "composer/error/source.hpp"

namespace zelk::composer {

/// A failure while rendering. Errors straight from the template engine carry no code;
/// the engine error is kept as the source.
struct RenderError {
    std::optional<DiagnosticCode> code;
    std::string message;
    ErrorSource source;
    Backtrace backtrace;

    /// Wraps an engine error: its display text as message, itself as source, no code.
    template <typename EngineError>
    requires requires(const EngineError& e) {
        { e.display() } -> std::convertible_to<std::string>;
    }
    static RenderError render(EngineError engine_error) {
        std::string text = std::string(engine_error.display());
        return RenderError{std::nullopt, std::move(text), make_source(std::move(engine_error)),
                           Backtrace::capture()};
    }
    /// A render failure found by the core itself, with a code and no source.
    static RenderError create(DiagnosticCode code, std::string message);
    /// Always "template rendering failed"; the engine's text is available as the source.
    std::string display() const;
};

}  // namespace zelk::composer
