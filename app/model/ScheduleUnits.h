#pragma once

#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The systemd user units that run scheduled snapshots: a service that runs `tfscan
// --scheduled` gently and a timer that starts it. Pure text and paths; installing them is
// Schedule's work.
namespace tallyfox::ScheduleUnits {

enum class Frequency { daily, weekly };

inline constexpr const char* serviceName = "tallyfox-snapshots.service";
inline constexpr const char* timerName = "tallyfox-snapshots.timer";

// "daily" or "weekly": the raw value stored in the preferences and written after OnCalendar=.
std::string_view rawValue(Frequency frequency);
std::optional<Frequency> frequencyNamed(std::string_view raw);

// Where a user's units go: $XDG_CONFIG_HOME/systemd/user when that is absolute, else
// ~/.config/systemd/user; nothing without a home folder.
std::optional<std::filesystem::path> userUnitFolder();

// The program of an ExecStart= line, as systemd reads it back unchanged: quoted, with "%"
// doubled (specifiers are expanded there too; variables are not). Nothing for what systemd
// refuses in a program's path (quotes, backslashes, control characters) or a unit file
// cannot carry (bytes that are not UTF-8).
std::optional<std::string> execProgram(std::string_view path);

// The service: a one-shot run of `tfscan --scheduled` at the lowest CPU and disk priority.
// Nothing when tfscan's path cannot be written into a unit (see execProgram) or is not
// absolute.
std::optional<std::string> serviceText(const std::filesystem::path& tfscan);
// The timer that starts the service; a run missed while the computer was off happens at the
// next login.
std::string timerText(Frequency frequency);

}  // namespace tallyfox::ScheduleUnits
