#pragma once

#include <filesystem>
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

}  // namespace TallyfoxApp
}  // namespace tallyfox
