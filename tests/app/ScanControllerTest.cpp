#include "ModelTestSupport.h"
#include "model/BrowserModel.h"
#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cstdlib>

using namespace tallyfox;
using testsupport::TempDir;
using testsupport::waitFor;
using PhaseKind = ScanController::Phase::Kind;

namespace {

namespace fs = std::filesystem;

class ScanControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("VOK_IGNORE_DIRS");
    Preferences::standard()->set(Preferences::snapshotsFolderKey, snapshots.string());
    testsupport::writeFile(tree / "a" / "one.txt", std::string(5000, 'x'));
    testsupport::writeFile(tree / "a" / "two.txt", "2");
    testsupport::writeFile(tree / "b" / "three.txt", "3");
  }
  void TearDown() override { ::unsetenv("VOK_IGNORE_DIRS"); }

  std::vector<fs::path> snapshotFiles() const {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(snapshots, error), end; !error && it != end; it.increment(error))
      files.push_back(it->path());
    return files;
  }

  testsupport::ScopedHome home;
  fs::path tree = home.path() / "tree";
  fs::path snapshots = home.path() / "snapshots";
  Settings settings{Preferences::standard()};
  DocumentController documents{settings, {}};
  ScanController controller{documents, settings};
};

TEST_F(ScanControllerTest, ScansAFolderIntoANewSnapshotAndOpensIt) {
  QSignalSpy opened(&documents, &DocumentController::documentOpened);
  std::vector<ScanController::Phase> phases;
  QObject::connect(&controller, &ScanController::phaseChanged, [&] { phases.push_back(controller.phase()); });
  const QString root = QString::fromStdString(tree.string());

  controller.scan(root);
  EXPECT_EQ(controller.phase(), ScanController::Phase::scanning(root));
  EXPECT_NE(controller.scanner(), nullptr);
  EXPECT_EQ(controller.entries(), 0u);
  controller.scan(QStringLiteral("/usr"));  // busy: ignored
  EXPECT_EQ(controller.phase(), ScanController::Phase::scanning(root));

  ASSERT_TRUE(waitFor([&] { return opened.count() == 1; }));
  EXPECT_EQ(phases, (std::vector{ScanController::Phase::scanning(root), ScanController::Phase::saving(),
                                 ScanController::Phase::idle()}));
  EXPECT_EQ(controller.scanner(), nullptr);

  const auto files = snapshotFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(*opened.at(0).at(0).value<BrowserModel*>()->fileURL(), files[0]);
  EXPECT_EQ(files[0].extension(), ".tfsnap");
  const auto snapshot = SnapshotFile::map(files[0]);
  EXPECT_EQ(snapshot->rootPath(), tree.string());
  EXPECT_EQ(snapshot->nodeCount(), 5);
  EXPECT_TRUE(SnapshotPaths::node(tree.string() + "/a/one.txt", *snapshot).has_value());
  // Recorded as recent once it has been read; a file that fails to load is not.
  BrowserModel* scanned = opened.at(0).at(0).value<BrowserModel*>();
  ASSERT_TRUE(waitFor([&] { return !scanned->state().isLoading(); }));
  EXPECT_EQ(documents.recentDocuments(), std::vector{files[0]});
  testsupport::writeFile(home.path() / "broken.tfsnap", "not a snapshot");
  BrowserModel* broken = documents.openDocument(home.path() / "broken.tfsnap");
  ASSERT_TRUE(waitFor([&] { return !broken->state().isLoading(); }));
  EXPECT_TRUE(broken->state().isFailed());
  EXPECT_EQ(documents.recentDocuments(), std::vector{files[0]});
}

TEST_F(ScanControllerTest, CancellingLeavesNoFileAndTheNextScanStartsAfresh) {
  // Enough to scan that the cancel lands while the scan runs, also on a busy machine.
  for (int k = 0; k < 4000; ++k)
    testsupport::writeFile(tree / "many" / std::to_string(k % 40) / std::to_string(k), "");
  QSignalSpy opened(&documents, &DocumentController::documentOpened);
  controller.scan(QString::fromStdString(tree.string()));
  controller.setSpeed(ScanSpeed::gentle);
  EXPECT_EQ(controller.speed(), ScanSpeed::gentle);
  EXPECT_EQ(controller.scanner()->speed(), ScanSpeed::gentle);
  controller.scanner()->cancel();
  ASSERT_TRUE(waitFor([&] { return controller.phase().kind == PhaseKind::idle; }));
  EXPECT_TRUE(snapshotFiles().empty());
  EXPECT_EQ(opened.count(), 0);
  EXPECT_NE(controller.scanner(), nullptr);  // kept until the next scan replaces it

  controller.scan(QString::fromStdString(tree.string()));
  EXPECT_EQ(controller.entries(), 0u);
  EXPECT_EQ(controller.speedOverride(), std::nullopt);
  EXPECT_EQ(controller.speed(), Preferences::standard()->scanSpeed());
  EXPECT_EQ(controller.scanner()->speed(), Preferences::standard()->scanSpeed());
  ASSERT_TRUE(waitFor([&] { return opened.count() == 1; }));
}

TEST_F(ScanControllerTest, AFailedScanIsReportedAndAnotherCanFollow) {
  QSignalSpy opened(&documents, &DocumentController::documentOpened);
  controller.scan(QString::fromStdString((tree / "missing").string()));
  ASSERT_TRUE(waitFor([&] { return controller.phase().kind == PhaseKind::failed; }));
  EXPECT_FALSE(controller.phase().text.isEmpty());
  EXPECT_EQ(controller.scanner(), nullptr);

  // A snapshots folder that cannot be made fails before anything is scanned, naming the folder.
  testsupport::writeFile(home.path() / "plain-file", "x");
  Preferences::standard()->set(Preferences::snapshotsFolderKey, (home.path() / "plain-file" / "s").string());
  controller.scan(QString::fromStdString(tree.string()));
  EXPECT_EQ(controller.phase().kind, PhaseKind::failed);
  EXPECT_EQ(controller.scanner(), nullptr);
  EXPECT_EQ(controller.phase().text.toStdString(),
            "snapshots folder " + (home.path() / "plain-file" / "s").string() + ": Not a directory");
  EXPECT_EQ(opened.count(), 0);

  Preferences::standard()->set(Preferences::snapshotsFolderKey, snapshots.string());
  controller.scan(QString::fromStdString(tree.string()));
  EXPECT_EQ(controller.phase().kind, PhaseKind::scanning);
  ASSERT_TRUE(waitFor([&] { return opened.count() == 1; }));
  EXPECT_EQ(controller.phase(), ScanController::Phase::idle());
}

TEST_F(ScanControllerTest, IgnoredFoldersComeFromTheEnvironment) {
  testsupport::writeFile(tree / "skipped" / "big.bin", std::string(9000, 'x'));
  ::setenv("VOK_IGNORE_DIRS", "~/tree/skipped::/no/such/folder", 1);
  QSignalSpy opened(&documents, &DocumentController::documentOpened);
  controller.scan(QString::fromStdString(tree.string()));
  ASSERT_TRUE(waitFor([&] { return opened.count() == 1; }));
  const auto snapshot = SnapshotFile::map(*opened.at(0).at(0).value<BrowserModel*>()->fileURL());
  EXPECT_FALSE(SnapshotPaths::node(tree.string() + "/skipped/big.bin", *snapshot).has_value());
  EXPECT_TRUE(SnapshotPaths::node(tree.string() + "/a/one.txt", *snapshot).has_value());
}

// A folder big enough that the scan outlives several polls: the system's own /usr.
TEST_F(ScanControllerTest, EntriesRiseWhileAScanRuns) {
  std::vector<quint64> seen;
  QObject::connect(&controller, &ScanController::entriesChanged,
                   [&] { seen.push_back(controller.entries()); });
  controller.scan(QStringLiteral("/usr"));
  const bool rose =
      waitFor([&] { return seen.size() >= 2 || controller.phase().kind != PhaseKind::scanning; });
  ASSERT_TRUE(rose);
  if (controller.phase().kind == PhaseKind::scanning) controller.scanner()->cancel();
  ASSERT_TRUE(waitFor([&] { return !controller.phase().isBusy(); }));
  if (seen.size() < 2) GTEST_SKIP() << "the scan of /usr ended before two polls";
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GT(seen.front(), 0u);
  EXPECT_LT(seen.front(), seen.back());
}

TEST(ScanControllerPresets, LinuxPlacesAndDiskAccess) {
  const auto& presets = ScanController::presets();
  ASSERT_EQ(presets.size(), 4u);
  EXPECT_EQ(presets[0].id, "disk");
  EXPECT_EQ(presets[0].path, "/");
  EXPECT_EQ(presets[0].detail, "Everything on the root volume");
  EXPECT_EQ(presets[1].title, "Home");
  EXPECT_EQ(presets[2].id, "caches");
  EXPECT_TRUE(presets[2].path.endsWith("/.cache"));
  EXPECT_EQ(presets[3].title, "Downloads");
  EXPECT_TRUE(presets[3].path.startsWith(presets[1].path));

  EXPECT_TRUE(ScanController::hasFullDiskAccess());
}

}  // namespace
