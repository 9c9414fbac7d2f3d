// The delete list against the real freedesktop.org Trash, checked with other clients of the
// same standard (trash-cli reads it, GLib's gio writes it).
#include "BtrfsImage.h"
#include "FolderSnapshot.h"
#include "Subprocess.h"
#include "ViewTestSupport.h"

#include "model/DeleteList.h"
#include "platform/Trash.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>

namespace {

namespace fs = std::filesystem;
namespace FreedesktopTrash = tallyfox::FreedesktopTrash;

// The real Trash, except that emptying stays inside the given folders: a test must never
// empty the trash of the machine's other volumes, which belongs to whoever runs it.
struct ConfinedTrash : tallyfox::Trash {
  explicit ConfinedTrash(std::vector<fs::path> folders) : within(std::move(folders)) {}
  std::optional<QString> moveToTrash(const QByteArray& path) override {
    return FreedesktopTrash::moveToTrash(path);
  }
  std::optional<QString> empty() override {
    std::optional<QString> first;
    for (const fs::path& trash : FreedesktopTrash::folders()) {
      const bool ours = std::any_of(within.begin(), within.end(), [&](const fs::path& folder) {
        return trash.native().starts_with(folder.native() + "/");
      });
      if (!ours) continue;
      emptied.push_back(trash);
      if (auto error = FreedesktopTrash::emptyFolder(trash); error && !first) first = error;
    }
    return first;
  }
  std::vector<fs::path> within;
  std::vector<fs::path> emptied;
};

// A browser on a fresh snapshot of `root`, moving to `trash`.
std::unique_ptr<tallyfox::BrowserModel> browse(const fs::path& root, const fs::path& snapshot,
                                               std::shared_ptr<tallyfox::Trash> trash) {
  testsupport::snapshotOfFolder(root)->write(snapshot);
  tallyfox::Desktop desktop;
  desktop.trash = std::move(trash);
  auto model = std::make_unique<tallyfox::BrowserModel>(snapshot, desktop);
  model->load();
  testsupport::waitUntilLoaded(*model);
  return model;
}

// What trash-cli lists: one "date time path" line per item.
std::string trashList() {
  const testsupport::ProgramRun run = testsupport::runProgram({"trash-list"});
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

// What GLib's client lists, when this machine can list its Trash at all: GLib leaves the
// trash:// listing to gvfs and its daemon, which need not be installed.
std::optional<std::string> gioTrashList() {
  const testsupport::ProgramRun run =
      testsupport::runProgram({"dbus-run-session", "--", "gio", "trash", "--list"});
  if (run.status != 0) return std::nullopt;
  return run.out;
}

std::string readText(const fs::path& file) {
  const std::vector<std::uint8_t> bytes = testsupport::readBytes(file);
  return std::string(bytes.begin(), bytes.end());
}

void markAndTrash(tallyfox::BrowserModel& model, const std::vector<std::string>& names) {
  for (const std::string& name : names) model.deleteList().toggleMark(testsupport::idOf(model, name));
  model.deleteList().trashMarked();
  ASSERT_TRUE(testsupport::waitFor([&] { return !model.deleteList().isTrashing(); }));
}

void emptyAndWait(tallyfox::BrowserModel& model) {
  model.deleteList().emptyTrash();
  ASSERT_TRUE(testsupport::waitFor([&] { return !model.deleteList().isEmptyingTrash(); }));
}

TEST(Trash, ItemsGoToTheHomeTrashAsOtherClientsSeeItAndEmptyingLeavesNothing) {
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  const fs::path root = dir.path() / "stuff";
  const std::string latin1 = "caf\xe9.txt";
  fs::create_directories(root / "old" / "deep");
  testsupport::writeFile(root / "old" / "deep" / "x", "x");
  testsupport::writeFile(root / "Bob's notes", "notes");
  testsupport::writeFile(root / latin1, "bytes");
  auto trash = std::make_shared<ConfinedTrash>(std::vector{home.path(), dir.path()});
  auto model = browse(root, dir.path() / "s.tfsnap", trash);

  markAndTrash(*model, {"old", "Bob's notes", "caf\xEF\xBF\xBD.txt"});  // the name as shown
  ASSERT_TRUE(model->deleteList().lastTrash());
  EXPECT_EQ(model->deleteList().lastTrash()->count, 3);
  EXPECT_EQ(model->deleteList().lastTrash()->failures, QStringList());
  EXPECT_TRUE(testsupport::namesIn(root).empty());
  const std::string listed = trashList();
  EXPECT_NE(listed.find((root / "old").string() + "\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find((root / "Bob's notes").string() + "\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find((root / "caf").string()), std::string::npos) << listed;
  if (const auto gio = gioTrashList()) {
    EXPECT_NE(gio->find((root / "old").string()), std::string::npos) << *gio;
    EXPECT_NE(gio->find((root / "Bob's notes").string()), std::string::npos) << *gio;
  }

  // Something another program put there goes too, files before their entries, no orphans.
  testsupport::writeFile(dir.path() / "from gio", "x");
  ASSERT_EQ(testsupport::runCommand({"gio", "trash", (dir.path() / "from gio").string()}), 0);
  const fs::path homeTrash = FreedesktopTrash::homeTrash();
  EXPECT_EQ(testsupport::namesIn(homeTrash / "files").size(), 4u);
  emptyAndWait(*model);
  EXPECT_TRUE(model->deleteList().lastTrash()->emptied);
  EXPECT_EQ(model->deleteList().lastTrash()->failures, QStringList());
  EXPECT_EQ(trash->emptied, std::vector<fs::path>{homeTrash});
  EXPECT_TRUE(testsupport::namesIn(homeTrash / "files").empty());
  EXPECT_TRUE(testsupport::namesIn(homeTrash / "info").empty());
  // Nothing of ours is listed any more (another test may have a volume with a trash mounted
  // meanwhile, which trash-list lists too).
  const std::string after = trashList();
  EXPECT_EQ(after.find(root.string()), std::string::npos) << after;
}

TEST(Trash, ItemsOnAnotherFileSystemUseThatVolumesTrash) {
  std::string whyNot;
  auto volume = testsupport::BtrfsImage::create(whyNot, 128);
  if (!volume) GTEST_SKIP() << "no second file system to mount: " << whyNot;
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  const fs::path top = volume->mountPoint();
  fs::create_directories(top / "projects" / "build");
  testsupport::writeFile(top / "projects" / "build" / "out.o", std::string(5000, 'x'));
  testsupport::writeFile(top / "projects" / "keep", "k");
  auto trash = std::make_shared<ConfinedTrash>(std::vector{home.path(), top});
  auto model = browse(top / "projects", dir.path() / "v.tfsnap", trash);

  markAndTrash(*model, {"build"});
  EXPECT_EQ(model->deleteList().lastTrash()->count, 1);
  const fs::path volumeTrash = top / (".Trash-" + std::to_string(::getuid()));
  EXPECT_EQ(testsupport::namesIn(volumeTrash / "files"), std::vector<std::string>{"build"});
  EXPECT_FALSE(fs::exists(FreedesktopTrash::homeTrash() / "files")) << "nothing crossed over";
  // Entries of a volume's trash name the item relative to the volume's top.
  EXPECT_NE(readText(volumeTrash / "info" / "build.trashinfo").find("\nPath=projects/build\n"),
            std::string::npos);
  EXPECT_NE(trashList().find((top / "projects" / "build").string()), std::string::npos);

  emptyAndWait(*model);
  EXPECT_EQ(model->deleteList().lastTrash()->failures, QStringList());
  EXPECT_NE(std::find(trash->emptied.begin(), trash->emptied.end(), volumeTrash), trash->emptied.end());
  EXPECT_TRUE(testsupport::namesIn(volumeTrash / "files").empty());
  EXPECT_TRUE(testsupport::namesIn(volumeTrash / "info").empty());
  EXPECT_TRUE(fs::exists(top / "projects" / "keep"));
}

}  // namespace
