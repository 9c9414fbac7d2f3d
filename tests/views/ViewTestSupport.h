#pragma once

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "model/BrowserModel.h"
#include "platform/Desktop.h"

#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tallyfox {
class BrowserWindow;
}

namespace viewtests {

using testsupport::idOf;
using testsupport::waitFor;

// Three hours ago, or today's first second when that was yesterday: a time that reads as
// today whenever the test runs.
std::chrono::system_clock::time_point earlierToday();

// Writes a snapshot of the literal tree, scanned earlierToday(), and returns its path.
std::filesystem::path writeSnapshot(const std::filesystem::path& file,
                                    const std::vector<testsupport::Node>& nodes,
                                    const std::string& rootPath = "/data");

// What the window asked of the desktop.
using DesktopLog = testsupport::RecordingDesktop::State;
tallyfox::Desktop recordingDesktop(const std::shared_ptr<DesktopLog>& log);

// A browser window on the file, shown, loaded and with its chart laid out.
std::unique_ptr<tallyfox::BrowserWindow> openBrowser(const std::filesystem::path& file,
                                                     tallyfox::Desktop desktop = {});

std::string nameOf(const tallyfox::BrowserModel& model, std::optional<tallyfox::NodeId> node);
// The names of the list's rows, top to bottom.
std::vector<std::string> listedNames(const tallyfox::BrowserWindow& window);

}  // namespace viewtests
