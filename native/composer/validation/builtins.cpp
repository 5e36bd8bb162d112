#include "composer/validation/builtins.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "composer/utf8.hpp"

extern "C" char** environ;

namespace zelk::composer {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// A proleptic Gregorian date and time of day, with a year of any size.
struct CivilTime {
    std::int64_t year;
    unsigned month;
    unsigned day;
    unsigned hour;
    unsigned minute;
    unsigned second;
};

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days since 1970-01-01 to a civil date (H. Hinnant's algorithm, widened to 64 bits).
CivilTime civil_time(std::int64_t seconds) {
    const std::int64_t days = floor_div(seconds, kSecondsPerDay);
    const std::int64_t of_day = seconds - days * kSecondsPerDay;
    const std::int64_t z = days + 719468;
    const std::int64_t era = floor_div(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const auto day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return CivilTime{year,
                     month,
                     day,
                     static_cast<unsigned>(of_day / 3600),
                     static_cast<unsigned>(of_day % 3600 / 60),
                     static_cast<unsigned>(of_day % 60)};
}

// Four zero-padded digits at least, a "-" in front of years before 0.
std::string year_text(std::int64_t year) {
    if (year < 0) {
        // Negated as unsigned so that the most negative year cannot overflow.
        return fmt::format("-{:04}", 0 - static_cast<std::uint64_t>(year));
    }
    return fmt::format("{:04}", year);
}

// The first valid UTF-8 value among the environment variables `names`, tried in order.
std::optional<std::string> first_valid_environment_value(std::initializer_list<std::string_view> names) {
    for (const std::string_view name : names) {
        std::optional<std::string> value = environment_value(name);
        if (value && !utf8_first_invalid(*value)) {
            return value;
        }
    }
    return std::nullopt;
}

std::string template_name_text(const std::filesystem::path& template_path) {
    // A trailing "." or separator names no file of its own; ".." and a bare root name none at all.
    std::filesystem::path path = template_path;
    while (path.has_relative_path() && (path.filename().empty() || path.filename() == ".")) {
        path = path.parent_path();
    }
    const std::filesystem::path name = path.has_relative_path() ? path.filename() : std::filesystem::path();
    if (name.empty() || name == "." || name == "..") {
        return "unknown";
    }
    return utf8_lossy(name.native());
}

std::string host_name_text() {
    return first_valid_environment_value({"HOSTNAME", "COMPUTERNAME"}).value_or("unknown");
}

std::string user_name_text() {
    // The first variable present decides; an invalid value does not fall back to the other.
    std::optional<std::string> value = environment_value("USER");
    if (!value) {
        value = environment_value("USERNAME");
    }
    if (!value || utf8_first_invalid(*value)) {
        return "unknown";
    }
    return std::move(*value);
}

}  // namespace

bool is_builtin_variable_name(std::string_view name) {
    return std::ranges::find(kBuiltinVariableNames, name) != kBuiltinVariableNames.end();
}

ClockReading ClockReading::from(std::chrono::system_clock::time_point time) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    const auto rest = std::chrono::duration_cast<std::chrono::nanoseconds>(time - seconds);
    return ClockReading{std::chrono::sys_seconds(seconds.time_since_epoch()),
                        static_cast<std::uint32_t>(rest.count())};
}

ClockReading ClockReading::now() {
    return from(std::chrono::system_clock::now());
}

std::string render_date_text(const ClockReading& reading) {
    const CivilTime t = civil_time(reading.seconds.time_since_epoch().count());
    return fmt::format("{}-{:02}-{:02}", year_text(t.year), t.month, t.day);
}

std::string render_timestamp_text(const ClockReading& reading) {
    const CivilTime t = civil_time(reading.seconds.time_since_epoch().count());
    std::string text = fmt::format("{}-{:02}-{:02}T{:02}:{:02}:{:02}", year_text(t.year), t.month, t.day,
                                   t.hour, t.minute, t.second);
    const bool rfc3339 = t.year >= 0 && t.year <= 9999;
    const std::uint32_t nanos = std::min<std::uint32_t>(reading.nanoseconds, 999'999'999);
    if (rfc3339 && nanos != 0) {
        std::string fraction = fmt::format("{:09}", nanos);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += '.';
        text += fraction;
    }
    text += 'Z';
    return text;
}

std::optional<std::string> environment_value(std::string_view name) {
    if (environ == nullptr) {
        return std::nullopt;
    }
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        // Names cannot hold "=", so the first one ends the name.
        const std::size_t equals = text.find('=');
        if (equals != std::string_view::npos && text.substr(0, equals) == name) {
            return std::string(text.substr(equals + 1));
        }
    }
    return std::nullopt;
}

void inject_builtin_vars(ValidationState& state, const std::filesystem::path& template_path) {
    inject_builtin_vars(state, template_path, ClockReading::now());
}

void inject_builtin_vars(ValidationState& state, const std::filesystem::path& template_path,
                         const ClockReading& now) {
    insert_builtin_var(state, "TEMPLATE_NAME", template_name_text(template_path));
    insert_builtin_var(state, "HOSTNAME", host_name_text());
    insert_builtin_var(state, "USERNAME", user_name_text());
    insert_builtin_var(state, "RENDER_DATE", render_date_text(now));
    insert_builtin_var(state, "RENDER_TIMESTAMP", render_timestamp_text(now));
}

void insert_builtin_var(ValidationState& state, std::string_view name, std::string value) {
    auto variable = VariableName::create(name);
    if (!variable) {
        return;
    }
    const auto source = state.sources.find(*variable);
    const bool caller_value =
        source != state.sources.end() &&
        (source->second == VariableSource::ExplicitInput || source->second == VariableSource::Environment);
    state.declared.insert(*variable);
    if (caller_value) {
        return;
    }
    state.values.insert_or_assign(*variable, InputValue(std::move(value)));
    state.sources.insert_or_assign(*variable, VariableSource::Builtin);
}

}  // namespace zelk::composer
