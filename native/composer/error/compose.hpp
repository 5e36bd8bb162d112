#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "composer/diagnostics/schema.hpp"
#include "composer/error/config.hpp"
#include "composer/error/include.hpp"
#include "composer/error/render.hpp"
#include "composer/error/resolve.hpp"
#include "composer/error/source.hpp"
#include "composer/error/validation.hpp"

namespace zelk::composer {

/// The error of every fallible core operation except extraction. Each record converts into
/// it implicitly, so callees' errors propagate unchanged.
class ComposeError {
  public:
    /// Variants in their fixed order; validation errors are boxed because they are the largest.
    using Variant =
        std::variant<ResolveError, IncludeError, std::unique_ptr<ValidationError>, RenderError, ConfigError>;

    ComposeError(ResolveError error) : value_(std::move(error)) {}  // NOLINT(google-explicit-constructor)
    ComposeError(IncludeError error) : value_(std::move(error)) {}  // NOLINT(google-explicit-constructor)
    ComposeError(ValidationError error)                             // NOLINT(google-explicit-constructor)
        : value_(std::make_unique<ValidationError>(std::move(error))) {}
    ComposeError(RenderError error) : value_(std::move(error)) {}  // NOLINT(google-explicit-constructor)
    ComposeError(ConfigError error) : value_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    ComposeError(ComposeError&&) noexcept = default;
    ComposeError& operator=(ComposeError&&) noexcept = default;
    /// Deep copy (the boxed validation error is copied too).
    ComposeError(const ComposeError& other);
    ComposeError& operator=(const ComposeError& other);

    /// The underlying record.
    const Variant& variant() const { return value_; }

    /// The record if it is of type T (ValidationError unboxed), else nullptr.
    template <typename T>
    const T* get_if() const {
        if constexpr (std::is_same_v<T, ValidationError>) {
            const auto* boxed = std::get_if<std::unique_ptr<ValidationError>>(&value_);
            return boxed ? boxed->get() : nullptr;
        } else {
            return std::get_if<T>(&value_);
        }
    }

    /// The diagnostic code; nullopt only for render errors without one.
    std::optional<DiagnosticCode> code() const;
    /// The record's message (never the full display).
    const std::string& message() const;
    /// The record's source, possibly empty.
    const ErrorSource& source() const;
    /// "template rendering failed" for render errors; otherwise message, causes and trace.
    std::string display() const;

  private:
    Variant value_;
};

}  // namespace zelk::composer
