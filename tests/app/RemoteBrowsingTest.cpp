// A window of a snapshot scanned on another machine: its paths are that machine's, so
// nothing here acts on a local file by them, and comparisons and switching stay with the
// same host.
#include "ModelTestSupport.h"
#include "model/BrowserCommands.h"
#include "model/Comparison.h"
#include "model/FileActions.h"
#include "model/Settings.h"
#include "model/SshTarget.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::Node;

namespace {

namespace fs = std::filesystem;

using testsupport::now;

class RemoteBrowsingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A file of this computer at the very path the remote snapshot names: it must be left
    // alone whatever the window is asked.
    testsupport::writeFile(local / "data" / "report.txt", "keep me");
  }
  fs::path snapshot(const fs::path& in, const std::string& name,
                    std::chrono::system_clock::time_point started) {
    fs::create_directories(in);
    const fs::path file = in / name;
    testsupport::writeSnapshot(file, {{-1, ""}, {0, "data"}, {1, "report.txt", 4096}}, local.string(),
                               started);
    return file;
  }
  std::unique_ptr<BrowserModel> open(const fs::path& file) {
    Services services(desktop.desktop());
    services.settings = &settings;
    return testsupport::loadedModel(file, services);
  }

  testsupport::ScopedHome home;
  fs::path local = home.path() / "srv";
  Settings settings{Preferences::standard()};
  fs::path folder = settings.snapshotsFolder();
  fs::path web = RemoteSnapshots::folderOf(folder, QStringLiteral("web"));
  testsupport::RecordingDesktop desktop;
};

TEST_F(RemoteBrowsingTest, OffersNothingThatActsOnALocalFileAndCopiesHostPaths) {
  auto m = open(snapshot(web, "srv-1.tfsnap", now));
  m->navigate(DiskTree::root, std::nullopt);
  EXPECT_EQ(m->windowTitle(), QStringLiteral("web:") + QString::fromStdString(local.string()));
  m->navigate(testsupport::idOf(*m, "data"), testsupport::idOf(*m, "report.txt"));
  EXPECT_FALSE(m->filePath(std::nullopt));

  for (const char* id :
       {"preview", "reveal", "openFile", "copy", "toggleMark", "moveToTrash", "findDuplicates"}) {
    const BrowserCommand* command = BrowserCommands::find(QString::fromLatin1(id));
    ASSERT_TRUE(command) << id;
    EXPECT_FALSE(command->isEnabled(*m)) << id;
    ASSERT_TRUE(command->whyDisabled) << id;
    EXPECT_EQ(command->whyDisabled(*m),
              QStringLiteral("This snapshot was scanned on web: its files are not on this computer"));
  }
  // Asked directly all the same (a key, a stale menu), they find no file to act on.
  m->files().revealInFinder(std::nullopt);
  m->files().openSelection(std::nullopt);
  m->files().copyFileReference(std::nullopt);
  m->togglePreview(std::nullopt);
  EXPECT_TRUE(desktop.state->revealed.isEmpty());
  EXPECT_TRUE(desktop.state->opened.isEmpty());
  EXPECT_TRUE(desktop.state->copiedReferences.isEmpty());
  EXPECT_TRUE(m->previewURL().isEmpty());

  BrowserCommands::run(QStringLiteral("copyPath"), *m);
  ASSERT_EQ(desktop.state->copiedTexts.size(), 1);
  EXPECT_EQ(desktop.state->copiedTexts[0],
            QStringLiteral("web:") + QString::fromStdString((local / "data" / "report.txt").string()));
  EXPECT_TRUE(BrowserCommands::find(QStringLiteral("rescan"))->isEnabled(*m)) << "a rescan runs over SSH";
}

TEST_F(RemoteBrowsingTest, ComparesAndSwitchesOnlyAmongOneMachinesSnapshots) {
  using std::chrono::hours;
  const fs::path earlierHere = snapshot(folder, "srv-here.tfsnap", now - hours(2));
  const fs::path earlierWeb = snapshot(web, "srv-0.tfsnap", now - hours(3));
  snapshot(RemoteSnapshots::folderOf(folder, QStringLiteral("db")), "srv-db.tfsnap", now - hours(1));
  auto remote = open(snapshot(web, "srv-1.tfsnap", now));
  auto here = open(snapshot(folder, "srv-now.tfsnap", now));

  for (auto* m : {remote.get(), here.get()}) {
    m->comparing().refreshCandidates();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m->comparing().comparisonCandidates().empty(); }));
  }
  ASSERT_EQ(remote->comparing().comparisonCandidates().size(), 1u);
  EXPECT_EQ(remote->comparing().comparisonCandidates()[0].url, earlierWeb);
  ASSERT_EQ(here->comparing().comparisonCandidates().size(), 1u);
  EXPECT_EQ(here->comparing().comparisonCandidates()[0].url, earlierHere);

  for (const RecentSnapshot& recent : remote->switchCandidates())
    EXPECT_EQ(recent.host(folder), QStringLiteral("web")) << recent.url;
  for (const RecentSnapshot& recent : here->switchCandidates())
    EXPECT_FALSE(recent.host(folder)) << recent.url;
  EXPECT_EQ(here->switchCandidates().size(), 2u);
}

}  // namespace
