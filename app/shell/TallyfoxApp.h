#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace tallyfox {

// The program's entry: the headless dump, the check for a display, handing files to a
// running instance, then the application with its windows.
namespace TallyfoxApp {

int main(int argc, char** argv);

// Whether a window can be shown at all: some display (X11 or Wayland) or an explicit Qt
// platform. Without one Qt would abort with a message about platform plugins.
bool hasDisplay();
// The one line printed instead.
const char* noDisplayMessage();
// The files and folders named on the command line, as absolute paths of the exact bytes
// given (options are skipped).
std::vector<std::filesystem::path> filesFrom(int argc, const char* const* argv);
// Whether "--new-scan" (the desktop entry's New Scan action) is among the options: the start
// window is shown even when files open or windows are already there.
bool newScanFrom(int argc, const char* const* argv);
// The snapshot after "--growth-alert", absolute: the notification mode that tfscan --scheduled
// starts after a scan in which something grew.
std::optional<std::filesystem::path> growthAlertFrom(int argc, const char* const* argv);
// The tfscan that scheduled snapshots run: the one beside this program, else the first on
// PATH; absolute.
std::optional<std::filesystem::path> tfscanPath();

}  // namespace TallyfoxApp
}  // namespace tallyfox
