#include "composer/error/compose.hpp"

namespace zelk::composer {
namespace {

template <typename F>
decltype(auto) visit_record(const ComposeError::Variant& value, F&& f) {
    return std::visit(
        [&](const auto& alternative) -> decltype(auto) {
            using T = std::decay_t<decltype(alternative)>;
            if constexpr (std::is_same_v<T, std::unique_ptr<ValidationError>>) {
                return f(*alternative);
            } else {
                return f(alternative);
            }
        },
        value);
}

ComposeError::Variant copy_variant(const ComposeError::Variant& value) {
    return visit_record(value, [](const auto& record) -> ComposeError::Variant {
        using T = std::decay_t<decltype(record)>;
        if constexpr (std::is_same_v<T, ValidationError>) {
            return std::make_unique<ValidationError>(record);
        } else {
            return record;
        }
    });
}

}  // namespace

ComposeError::ComposeError(const ComposeError& other) : value_(copy_variant(other.value_)) {}

ComposeError& ComposeError::operator=(const ComposeError& other) {
    if (this != &other) {
        value_ = copy_variant(other.value_);
    }
    return *this;
}

std::optional<DiagnosticCode> ComposeError::code() const {
    return visit_record(value_,
                        [](const auto& record) -> std::optional<DiagnosticCode> { return record.code; });
}

const std::string& ComposeError::message() const {
    return visit_record(value_, [](const auto& record) -> const std::string& { return record.message; });
}

const ErrorSource& ComposeError::source() const {
    return visit_record(value_, [](const auto& record) -> const ErrorSource& { return record.source; });
}

std::string ComposeError::display() const {
    return visit_record(value_, [](const auto& record) { return record.display(); });
}

}  // namespace zelk::composer
