#pragma once
// The shared text form of the core's errors.

#include <string>
#include <string_view>

#include "composer/error/backtrace.hpp"
#include "composer/error/source.hpp"

namespace zelk::composer {

/// "{message}", then "\ncaused by:" and one "\n- {cause}" per link of the source chain
/// (when there is a source), then always "\nbacktrace:\n{trace}".
std::string write_error_display(std::string_view message, const ErrorSource& source, const Backtrace& trace);

}  // namespace zelk::composer
