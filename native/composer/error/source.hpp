#pragma once
// Type-erased, owning causes of errors, able to report their own cause so a chain can be walked.

#include <concepts>
#include <memory>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

namespace zelk::composer {

/// One link of a cause chain.
struct ErrorCause {
    virtual ~ErrorCause() = default;
    /// The cause's own display text.
    virtual std::string display() const = 0;
    /// The next cause down the chain, or nullptr.
    virtual const ErrorCause* cause() const { return nullptr; }
};

/// An optional owning handle on a cause; empty means "no source".
using ErrorSource = std::shared_ptr<const ErrorCause>;

/// A platform I/O error, displayed as "{description} (os error {n})".
ErrorSource make_source(std::error_code error);

/// A plain text cause.
ErrorSource make_source(std::string text);

namespace detail {

template <typename T>
concept HasSourceField = requires(const T& t) {
    { t.source } -> std::convertible_to<const ErrorSource&>;
};

template <typename T>
concept HasSourceMethod = requires(const T& t) {
    { t.source() } -> std::convertible_to<const ErrorSource&>;
};

template <typename T>
class DisplayCause final : public ErrorCause {
  public:
    explicit DisplayCause(T value) : value_(std::move(value)) {}
    std::string display() const override { return std::string(value_.display()); }
    const ErrorCause* cause() const override {
        if constexpr (HasSourceField<T>) {
            return value_.source.get();
        } else if constexpr (HasSourceMethod<T>) {
            return value_.source().get();
        } else {
            return nullptr;
        }
    }

  private:
    T value_;
};

}  // namespace detail

/// Any error type with `display()`; if it carries a `source` (field or accessor), that
/// becomes the next link of the chain.
template <typename T>
requires requires(const T& t) {
    { t.display() } -> std::convertible_to<std::string>;
} &&(!std::same_as<std::remove_cvref_t<T>, std::string>)ErrorSource make_source(T&& error) {
    return std::make_shared<const detail::DisplayCause<std::remove_cvref_t<T>>>(std::forward<T>(error));
}

}  // namespace zelk::composer
