#include "composer/error/source.hpp"

#include <fmt/format.h>

namespace zelk::composer {
namespace {

class IoCause final : public ErrorCause {
  public:
    explicit IoCause(std::error_code error) : error_(error) {}
    std::string display() const override {
        // Content that is not UTF-8 is reported by our readers with this errno; say what it means.
        if (error_ == std::errc::illegal_byte_sequence) {
            return "stream did not contain valid UTF-8";
        }
        return fmt::format("{} (os error {})", error_.message(), error_.value());
    }

  private:
    std::error_code error_;
};

class TextCause final : public ErrorCause {
  public:
    explicit TextCause(std::string text) : text_(std::move(text)) {}
    std::string display() const override { return text_; }

  private:
    std::string text_;
};

}  // namespace

ErrorSource make_source(std::error_code error) {
    return std::make_shared<const IoCause>(error);
}

ErrorSource make_source(std::string text) {
    return std::make_shared<const TextCause>(std::move(text));
}

}  // namespace zelk::composer
