#include "ViewTestSupport.h"

#include "shell/MenuBar.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/RowListModel.h"
#include "views/SunburstView.h"

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QTest>

#include <algorithm>
#include <ctime>

namespace viewtests {

std::chrono::system_clock::time_point earlierToday() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  const auto midnight = std::chrono::system_clock::from_time_t(std::mktime(&local));
  return std::max(now - std::chrono::hours(3), midnight);
}

std::vector<testsupport::Node> photoLibrary() {
  return {{-1, "data"},          {0, "photos"},      {0, "music"},
          {0, "readme.txt", 10}, {1, "2023"},        {1, "cover.jpg", 1000},
          {2, "song.mp3", 6000}, {4, "a.raw", 5000}, {4, "b.raw", 3000}};
}

std::filesystem::path writeSnapshot(const std::filesystem::path& file,
                                    const std::vector<testsupport::Node>& nodes,
                                    const std::string& rootPath) {
  tallyfox::SnapshotFile::write(testsupport::columnsOf(nodes), {rootPath, earlierToday(), 2.0}, file);
  return file;
}

tallyfox::Desktop recordingDesktop(const std::shared_ptr<DesktopLog>& log) {
  testsupport::RecordingDesktop desktop;
  desktop.state = log;
  return desktop.desktop();
}

std::unique_ptr<tallyfox::BrowserWindow> openBrowser(const std::filesystem::path& file,
                                                     tallyfox::Desktop desktop) {
  if (!desktop.clipboard) desktop = recordingDesktop(std::make_shared<DesktopLog>());
  auto window = std::make_unique<tallyfox::BrowserWindow>(file, desktop);
  tallyfox::MenuBar::install(window.get(), nullptr, window->browser());
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  window->resize(1100, 700);
  window->show();
  testsupport::waitUntilLoaded(*window->browser());
  if (window->browser()->state().isReady()) {
    EXPECT_TRUE(waitFor([&] { return window->view()->chart()->layout() != nullptr; })) << "no chart";
  }
  return window;
}

TestApp::TestApp(tallyfox::Settings& settings, tallyfox::Desktop desktop)
    : documents(settings, std::move(desktop)),
      scans(documents, settings),
      updater(
          std::make_unique<testsupport::FakeUpdaterDriver>(driver), scans, documents, [] { return 0.0; },
          [](const QString&) {}),
      app(scans, documents, settings, &updater) {}

std::string nameOf(const tallyfox::BrowserModel& model, std::optional<tallyfox::NodeId> node) {
  if (!node) return "(none)";
  return *node == tallyfox::DiskTree::root ? std::string("(root)") : model.tree()->name(*node);
}

std::vector<std::string> listedNames(const tallyfox::BrowserWindow& window) {
  std::vector<std::string> names;
  for (const auto& row : window.view()->list()->rows()->rows())
    names.push_back(std::string(row.depth * 2, ' ') + window.browser()->tree()->name(row.node));
  return names;
}

}  // namespace viewtests
