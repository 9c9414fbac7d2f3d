#pragma once

#include "AppTestSupport.h"
#include "TestSupport.h"
#include "model/AppUpdater.h"
#include "model/BrowserModel.h"
#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "platform/Desktop.h"
#include "shell/AppDelegate.h"

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

// A small library below "data": photos 9000 (2023 8000: a.raw 5000, b.raw 3000; cover.jpg
// 1000), music 6000, readme.txt 10.
std::vector<testsupport::Node> photoLibrary();

// What the window asked of the desktop.
using DesktopLog = testsupport::RecordingDesktop::State;
tallyfox::Desktop recordingDesktop(const std::shared_ptr<DesktopLog>& log);

// A browser window on the file, shown, loaded and with its chart laid out.
std::unique_ptr<tallyfox::BrowserWindow> openBrowser(const std::filesystem::path& file,
                                                     tallyfox::Desktop desktop = {});

// The process-wide objects as the application makes them at start-up, the updater on a fake
// driver that the test starts (after setting what the driver answers).
struct TestApp {
  explicit TestApp(tallyfox::Settings& settings, tallyfox::Desktop desktop = {});

  std::shared_ptr<testsupport::FakeUpdaterDriver::State> driver =
      std::make_shared<testsupport::FakeUpdaterDriver::State>();
  tallyfox::DocumentController documents;
  tallyfox::ScanController scans;
  tallyfox::AppUpdater updater;
  tallyfox::AppDelegate app;
};

std::string nameOf(const tallyfox::BrowserModel& model, std::optional<tallyfox::NodeId> node);
// The names of the list's rows, top to bottom.
std::vector<std::string> listedNames(const tallyfox::BrowserWindow& window);

}  // namespace viewtests
