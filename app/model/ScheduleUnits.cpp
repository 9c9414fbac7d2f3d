#include "model/ScheduleUnits.h"

#include <tallyfox/SnapshotPaths.h>

#include <QUtf8StringView>

#include <cstdlib>

namespace tallyfox::ScheduleUnits {

std::string_view rawValue(Frequency frequency) {
  return frequency == Frequency::weekly ? "weekly" : "daily";
}

std::optional<Frequency> frequencyNamed(std::string_view raw) {
  if (raw == "daily") return Frequency::daily;
  if (raw == "weekly") return Frequency::weekly;
  return std::nullopt;
}

std::optional<std::filesystem::path> userUnitFolder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
    return std::filesystem::path(config) / "systemd" / "user";
  const std::string home = PathText::homeDirectory();
  if (home.empty() || home.front() != '/') return std::nullopt;
  return std::filesystem::path(home) / ".config" / "systemd" / "user";
}

std::optional<std::string> execProgram(std::string_view path) {
  if (!QUtf8StringView(path.data(), qsizetype(path.size())).isValidUtf8()) return std::nullopt;
  std::string quoted = "\"";
  for (const char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '"' || c == '\\' || c == '\'')
      return std::nullopt;
    quoted += c;
    if (c == '%') quoted += c;
  }
  return quoted + '"';
}

std::optional<std::string> serviceText(const std::filesystem::path& tfscan) {
  if (!tfscan.is_absolute()) return std::nullopt;
  const auto program = execProgram(tfscan.native());
  if (!program) return std::nullopt;
  return "[Unit]\n"
         "Description=Tallyfox scheduled snapshots\n"
         "Documentation=man:tfscan(1)\n"
         "\n"
         "[Service]\n"
         "Type=oneshot\n"
         "ExecStart=" +
         *program +
         " --scheduled\n"
         // Out of the way of everything else: a scheduled scan may take as long as it needs.
         "Nice=19\n"
         "IOSchedulingClass=idle\n"
         // The growth alert that tfscan starts waits for the person to answer it; ending the
         // run must not take the notification (or the window it opens) with it.
         "KillMode=process\n";
}

std::string timerText(Frequency frequency) {
  return "[Unit]\n"
         "Description=Tallyfox scheduled snapshots, " +
         std::string(rawValue(frequency)) +
         "\n"
         "\n"
         "[Timer]\n"
         "OnCalendar=" +
         std::string(rawValue(frequency)) +
         "\n"
         "Persistent=true\n"
         // Many computers wake at midnight; no need for all their disks to start at once.
         "RandomizedDelaySec=15min\n"
         "\n"
         "[Install]\n"
         "WantedBy=timers.target\n";
}

}  // namespace tallyfox::ScheduleUnits
