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

namespace viewtests {

std::filesystem::path writeSnapshot(const std::filesystem::path& file,
                                    const std::vector<testsupport::Node>& nodes,
                                    const std::string& rootPath) {
  tallyfox::SnapshotFile::write(testsupport::columnsOf(nodes),
                                {rootPath, std::chrono::system_clock::now() - std::chrono::hours(3), 2.0},
                                file);
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
