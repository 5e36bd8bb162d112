#include "composer/error/backtrace.hpp"

#include <execinfo.h>

#include <fmt/format.h>
#include <cstdlib>
#include <string_view>

namespace zelk::composer {
namespace {

constexpr int kMaxFrames = 64;

bool capture_enabled() {
    const char* value = std::getenv("ZELK_BACKTRACE");
    return value != nullptr && std::string_view(value) != "" && std::string_view(value) != "0";
}

}  // namespace

Backtrace Backtrace::capture() {
    Backtrace trace;
    if (!capture_enabled()) {
        return trace;
    }
    std::vector<void*> frames(kMaxFrames);
    const int count = ::backtrace(frames.data(), kMaxFrames);
    frames.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    trace.frames_ = std::make_shared<const std::vector<void*>>(std::move(frames));
    return trace;
}

std::string Backtrace::display() const {
    if (!frames_) {
        return "disabled backtrace";
    }
    // Symbolise lazily: most errors are never displayed with their trace.
    std::string out;
    char** symbols = ::backtrace_symbols(frames_->data(), static_cast<int>(frames_->size()));
    for (std::size_t i = 0; i < frames_->size(); ++i) {
        if (i > 0) {
            out += '\n';
        }
        if (symbols != nullptr) {
            out += fmt::format("{:>4}: {}", i, symbols[i]);
        } else {
            out += fmt::format("{:>4}: {}", i, frames_->at(i));
        }
    }
    std::free(symbols);
    return out;
}

}  // namespace zelk::composer
