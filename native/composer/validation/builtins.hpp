#pragma once
// The five built-in variables: template name, host, user, and the render date and time, all taken
// from one reading of the environment and the clock.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "composer/validation/state.hpp"

namespace zelk::composer {

/// The built-in names, in the order in which they are injected.
inline constexpr std::array<std::string_view, 5> kBuiltinVariableNames = {
    "TEMPLATE_NAME", "HOSTNAME", "USERNAME", "RENDER_DATE", "RENDER_TIMESTAMP",
};

/// Whether `name` is one of the built-in names.
bool is_builtin_variable_name(std::string_view name);

/// One reading of the clock in UTC. Seconds are kept in 64 bits so that any year can be written,
/// also the ones a system clock cannot reach.
struct ClockReading {
    /// Whole seconds since the Unix epoch.
    std::chrono::sys_seconds seconds{};
    /// The sub-second part, below one second.
    std::uint32_t nanoseconds = 0;

    /// The reading of a system-clock time point (floored to whole seconds).
    static ClockReading from(std::chrono::system_clock::time_point time);
    /// The reading of the system clock now.
    static ClockReading now();
};

/// "YYYY-MM-DD" in UTC; a year before 0 is written "-" and four zero-padded digits.
std::string render_date_text(const ClockReading& reading);

/// RFC 3339 "YYYY-MM-DDTHH:MM:SS[.fraction]Z", the fraction being the nanoseconds without
/// trailing zeros and only when not zero. A year outside 0..9999, which RFC 3339 cannot write,
/// gives "{year}-MM-DDTHH:MM:SSZ" without fraction.
std::string render_timestamp_text(const ClockReading& reading);

/// The value of the first environment entry whose name equals `name` byte for byte, unchecked.
std::optional<std::string> environment_value(std::string_view name);

/// Adds the built-ins to `state` for the template at `template_path`, reading the environment and
/// the system clock once.
void inject_builtin_vars(ValidationState& state, const std::filesystem::path& template_path);

/// `inject_builtin_vars` with the clock reading given.
void inject_builtin_vars(ValidationState& state, const std::filesystem::path& template_path,
                         const ClockReading& now);

/// Sets one built-in: nothing for an invalid name; only declares it when the caller gave it as
/// explicit input or environment value; otherwise stores `value` with the built-in source.
void insert_builtin_var(ValidationState& state, std::string_view name, std::string value);

}  // namespace zelk::composer
