// The delete list against the real freedesktop.org Trash, checked with other clients of the
// same standard (trash-cli reads it, GLib's gio writes it).
#include "BtrfsImage.h"
#include "FolderSnapshot.h"
#include "ScopedMount.h"
#include "Subprocess.h"
#include "ViewTestSupport.h"

#include "model/DeleteList.h"
#include "model/Format.h"
#include "model/TrashWork.h"
#include "platform/Trash.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <map>

namespace {

namespace fs = std::filesystem;
using testsupport::pathBytes;
namespace FreedesktopTrash = tallyfox::FreedesktopTrash;

// The real Trash, except that emptying stays inside the given folders: a test must never
// empty the trash of the machine's other volumes, which belongs to whoever runs it.
struct ConfinedTrash : tallyfox::Trash {
  explicit ConfinedTrash(std::vector<fs::path> folders) : within(std::move(folders)) {}
  std::optional<QString> moveToTrash(const QByteArray& path) override {
    return FreedesktopTrash::moveToTrash(path);
  }
  tallyfox::EmptyingReport empty() override {
    std::vector<fs::path> ours;
    for (const fs::path& trash : FreedesktopTrash::folders()) {
      if (std::any_of(within.begin(), within.end(), [&](const fs::path& folder) {
            return trash.native().starts_with(folder.native() + "/");
          }))
        ours.push_back(trash);
    }
    emptied.insert(emptied.end(), ours.begin(), ours.end());
    return FreedesktopTrash::emptyFolders(ours);
  }
  std::optional<QString> deletePermanently(const QByteArray& path, const QByteArray& base) override {
    return tallyfox::Trash::system()->deletePermanently(path, base);
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

std::string userId() {
  return std::to_string(::getuid());
}

// Every name below `folder` with what it is (a file's contents, a link's target): whether
// anything in it was touched.
std::map<std::string, std::string> everythingBelow(const fs::path& folder) {
  std::map<std::string, std::string> found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().lexically_relative(folder).string();
    if (entry.is_symlink())
      found[name] = "-> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_regular_file())
      found[name] = readText(entry.path());
    else
      found[name] = "folder";
  }
  return found;
}

void markAndTrash(tallyfox::BrowserModel& model, const std::vector<std::string>& names) {
  for (const std::string& name : names) model.deleteList().toggleMark(testsupport::idOf(model, name));
  model.deleteList().trash().trashMarked();
  ASSERT_TRUE(testsupport::waitFor([&] { return !model.deleteList().trash().isTrashing(); }));
}

void emptyAndWait(tallyfox::BrowserModel& model) {
  model.deleteList().trash().emptyTrash();
  ASSERT_TRUE(testsupport::waitFor([&] { return !model.deleteList().trash().isEmptyingTrash(); }));
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
  ASSERT_TRUE(model->deleteList().trash().lastTrash());
  EXPECT_EQ(model->deleteList().trash().lastTrash()->count, 3);
  EXPECT_EQ(model->deleteList().trash().lastTrash()->failures, QStringList());
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
  EXPECT_TRUE(model->deleteList().trash().lastTrash()->emptied);
  EXPECT_EQ(model->deleteList().trash().lastTrash()->failures, QStringList());
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
  EXPECT_EQ(model->deleteList().trash().lastTrash()->count, 1);
  const fs::path volumeTrash = top / (".Trash-" + std::to_string(::getuid()));
  EXPECT_EQ(testsupport::namesIn(volumeTrash / "files"), std::vector<std::string>{"build"});
  EXPECT_FALSE(fs::exists(FreedesktopTrash::homeTrash() / "files")) << "nothing crossed over";
  // Entries of a volume's trash name the item relative to the volume's top.
  EXPECT_NE(readText(volumeTrash / "info" / "build.trashinfo").find("\nPath=projects/build\n"),
            std::string::npos);
  EXPECT_NE(trashList().find((top / "projects" / "build").string()), std::string::npos);

  emptyAndWait(*model);
  EXPECT_EQ(model->deleteList().trash().lastTrash()->failures, QStringList());
  EXPECT_NE(std::find(trash->emptied.begin(), trash->emptied.end(), volumeTrash), trash->emptied.end());
  EXPECT_TRUE(testsupport::namesIn(volumeTrash / "files").empty());
  EXPECT_TRUE(testsupport::namesIn(volumeTrash / "info").empty());
  EXPECT_TRUE(fs::exists(top / "projects" / "keep"));
}

TEST(Trash, AnItemOnABindMountGoesToThatMountsTrashThoughItSharesTheHomesDevice) {
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  fs::create_directories(dir / "source" / "projects" / "build");
  testsupport::writeFile(dir / "source" / "projects" / "build" / "out.o", std::string(5000, 'x'));
  testsupport::writeFile(dir / "source" / "projects" / "keep", "k");
  std::string whyNot;
  const auto bound = testsupport::ScopedMount::bind(dir / "source", dir / "bound", whyNot);
  if (!bound) GTEST_SKIP() << whyNot;
  struct stat homeSt {
  }, boundSt{};
  ASSERT_EQ(::stat(home.path().c_str(), &homeSt), 0);
  ASSERT_EQ(::stat(bound->path().c_str(), &boundSt), 0);
  if (homeSt.st_dev != boundSt.st_dev)
    GTEST_SKIP() << "the home and the temporary folders lie on two devices here";
  const fs::path top = bound->path();
  auto trash = std::make_shared<ConfinedTrash>(std::vector{home.path(), dir.path()});
  auto model = browse(top / "projects", dir.path() / "b.tfsnap", trash);

  markAndTrash(*model, {"build"});
  ASSERT_TRUE(model->deleteList().trash().lastTrash());
  EXPECT_EQ(model->deleteList().trash().lastTrash()->failures, QStringList());
  EXPECT_EQ(model->deleteList().trash().lastTrash()->count, 1);
  const fs::path mountTrash = top / (".Trash-" + userId());
  EXPECT_EQ(testsupport::namesIn(mountTrash / "files"), std::vector<std::string>{"build"});
  EXPECT_FALSE(fs::exists(FreedesktopTrash::homeTrash() / "files")) << "nothing went to the home trash";
  EXPECT_NE(readText(mountTrash / "info" / "build.trashinfo").find("\nPath=projects/build\n"),
            std::string::npos);

  // trash-cli finds it below the bind mount and puts it back where it was.
  EXPECT_NE(trashList().find((top / "projects" / "build").string()), std::string::npos);
  const testsupport::ProgramRun restore =
      testsupport::runProgram({"sh", "-c", "echo 0 | trash-restore \"$0\"", (top / "projects").string()});
  EXPECT_EQ(restore.status, 0) << restore.err;
  EXPECT_EQ(readText(top / "projects" / "build" / "out.o"), std::string(5000, 'x'));
  EXPECT_TRUE(testsupport::namesIn(mountTrash / "files").empty());
}

// A removable disk can carry anything, links where a trash has its folders among them:
// emptying must not delete what they point at, and says which trash it left alone.
TEST(Trash, EmptyingFollowsNoLinkPlantedInAVolumesTrashAndSaysWhichItLeftAlone) {
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  const fs::path mine = dir.path() / "mine";
  const std::string uid = userId();
  // What the links lead to, laid out as a trash so that a careless emptying would find work.
  for (const char* folder : {"documents", "photos", "music/files", "music/info", "mail"}) {
    testsupport::writeFile(mine / folder / "keep.txt", folder);
    testsupport::writeFile(mine / folder / "keep.txt.trashinfo", "[Trash Info]\nPath=keep.txt\n");
  }
  testsupport::writeFile(mine / "mail" / uid / "files" / "letter", "dear");
  const auto before = everythingBelow(mine);

  std::string whyNot;
  const auto first = testsupport::ScopedMount::tmpfs(dir / "first", whyNot);
  const auto second = first ? testsupport::ScopedMount::tmpfs(dir / "second", whyNot) : nullptr;
  const auto third = second ? testsupport::ScopedMount::tmpfs(dir / "third", whyNot) : nullptr;
  if (!third) GTEST_SKIP() << whyNot;
  // On the first disk its own trash's files/ leads to documents, and in the shared .Trash
  // (sticky, as it should be) info/ leads to photos.
  const fs::path ownFilesLink = first->path() / (".Trash-" + uid);
  testsupport::writeFile(ownFilesLink / "info" / "keep.txt.trashinfo", "[Trash Info]\nPath=keep.txt\n");
  fs::create_directory_symlink(mine / "documents", ownFilesLink / "files");
  const fs::path sharedInfoLink = first->path() / ".Trash" / uid;
  testsupport::writeFile(sharedInfoLink / "files" / "keep.txt", "in the trash");
  ::chmod((first->path() / ".Trash").c_str(), 01777);
  fs::create_directory_symlink(mine / "photos", sharedInfoLink / "info");
  // On the second, the trash itself is a link, and the shared .Trash lacks the sticky bit.
  fs::create_directory_symlink(mine / "music", second->path() / (".Trash-" + uid));
  testsupport::writeFile(second->path() / ".Trash" / uid / "files" / "a", "a");
  ::chmod((second->path() / ".Trash").c_str(), 0777);
  // On the third, the trash is another user's, and .Trash is a link.
  testsupport::writeFile(third->path() / (".Trash-" + uid) / "files" / "b", "b");
  ASSERT_EQ(::chown((third->path() / (".Trash-" + uid)).c_str(), 4242, 4242), 0);
  fs::create_directory_symlink(mine / "mail", third->path() / ".Trash");
  const auto disksBefore = everythingBelow(second->path());
  const auto thirdBefore = everythingBelow(third->path());

  // And the home trash, which is the person's own, holds something to empty.
  testsupport::writeFile(dir / "stuff" / "old", "old");
  auto trash = std::make_shared<ConfinedTrash>(std::vector{home.path(), dir.path()});
  auto model = browse(dir / "stuff", dir / "s.tfsnap", trash);
  markAndTrash(*model, {"old"});
  emptyAndWait(*model);

  EXPECT_EQ(everythingBelow(mine), before) << "nothing a link leads to was touched";
  EXPECT_EQ(everythingBelow(second->path()), disksBefore);
  EXPECT_EQ(everythingBelow(third->path()), thirdBefore);
  EXPECT_EQ(readText(ownFilesLink / "info" / "keep.txt.trashinfo"), "[Trash Info]\nPath=keep.txt\n")
      << "a trash is emptied whole or not at all";
  EXPECT_EQ(readText(sharedInfoLink / "files" / "keep.txt"), "in the trash");
  EXPECT_TRUE(testsupport::namesIn(FreedesktopTrash::homeTrash() / "files").empty()) << "the home trash was";

  const auto& result = model->deleteList().trash().lastTrash();
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->emptied);
  const auto said = [&](const fs::path& trashFolder, const std::string& why) {
    return result->failures.contains(
        QString::fromStdString(trashFolder.string() + ": " + why + "; not emptied"));
  };
  EXPECT_TRUE(said(ownFilesLink, "its “files” is a symbolic link"))
      << result->failures.join("\n").toStdString();
  EXPECT_TRUE(said(sharedInfoLink, "its “info” is a symbolic link"));
  EXPECT_TRUE(said(second->path() / (".Trash-" + uid), "it is a symbolic link"));
  EXPECT_TRUE(said(second->path() / ".Trash" / uid,
                   "the shared .Trash above it lacks the sticky bit, so others could have made it"));
  EXPECT_TRUE(said(third->path() / (".Trash-" + uid), "it belongs to another user"));
  EXPECT_TRUE(said(third->path() / ".Trash" / uid, "the shared .Trash above it is a symbolic link"));
  EXPECT_EQ(result->failures.size(), 6);
  EXPECT_EQ(tallyfox::TrashWork::failuresText(*result), QStringLiteral("6 trashes not emptied"));
}

TEST(Trash, DeletingPermanentlyRemovesLinksButNotWhatTheyLeadToAndStaysOnTheItemsMount) {
  testsupport::TempDir dir;
  const fs::path mine = dir.path() / "mine";
  testsupport::writeFile(mine / "precious.txt", "precious");
  testsupport::writeFile(mine / "sub" / "deep.txt", "deep");
  const auto before = everythingBelow(mine);
  const fs::path root = dir.path() / "root";
  const fs::path old = root / "old";
  testsupport::writeFile(old / "a", "a");
  testsupport::writeFile(old / "locked" / "inside", "c");
  fs::create_directory_symlink(mine, old / "to-mine");
  fs::create_directories(old / "nested");
  fs::create_symlink(mine / "precious.txt", old / "nested" / "to-file");
  fs::create_symlink(dir.path() / "nowhere", old / "dangling");
  ::chmod((old / "locked").c_str(), 0500);
  const auto system = tallyfox::Trash::system();

  EXPECT_EQ(system->deletePermanently(pathBytes(old), pathBytes(root)), std::nullopt);
  EXPECT_FALSE(fs::exists(fs::symlink_status(old)));
  EXPECT_EQ(everythingBelow(mine), before);

  // A link that took the place of a folder below the snapshot's root is not walked through.
  fs::create_directory_symlink(mine, root / "was-a-folder");
  const auto refused = system->deletePermanently(pathBytes(root / "was-a-folder" / "sub"), pathBytes(root));
  ASSERT_TRUE(refused);
  EXPECT_EQ(*refused, QString::fromStdString((root / "was-a-folder").string()) +
                          " is a symbolic link now; nothing was deleted through it");
  EXPECT_EQ(everythingBelow(mine), before);
  // Links above it are the person's own way there, and are followed.
  fs::create_directory_symlink(root, dir.path() / "root-link");
  testsupport::writeFile(root / "gone-too", "g");
  EXPECT_EQ(system->deletePermanently(pathBytes(dir.path() / "root-link" / "gone-too"),
                                      pathBytes(dir.path() / "root-link")),
            std::nullopt);
  EXPECT_FALSE(fs::exists(root / "gone-too"));
  EXPECT_EQ(system->deletePermanently(pathBytes(root / "never-was"), pathBytes(root)), std::nullopt)
      << "gone is done";

  // A file system mounted inside the item is not part of it, and neither is a mount point.
  testsupport::writeFile(root / "holder" / "plain", "p");
  std::string whyNot;
  const auto inside = testsupport::ScopedMount::tmpfs(root / "holder" / "mnt", whyNot);
  if (!inside) GTEST_SKIP() << whyNot;
  testsupport::writeFile(inside->path() / "theirs", "t");
  const auto kept = system->deletePermanently(pathBytes(root / "holder"), pathBytes(root));
  ASSERT_TRUE(kept);
  EXPECT_EQ(*kept, QString::fromStdString(inside->path().string()) + ": is a mount point, left as it is");
  EXPECT_FALSE(fs::exists(root / "holder" / "plain"));
  EXPECT_TRUE(fs::exists(inside->path() / "theirs"));
  const auto itself = system->deletePermanently(pathBytes(inside->path()), pathBytes(root));
  ASSERT_TRUE(itself);
  EXPECT_TRUE(itself->endsWith("is a mount point, left as it is"));
  EXPECT_TRUE(fs::exists(inside->path() / "theirs"));
}

TEST(Trash, WhatNoTrashTakesIsDeletedPermanentlyOnlyOnceThePersonSaysSo) {
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::string whyNot;
  const auto volume = testsupport::ScopedMount::tmpfs(dir / "disk", whyNot);
  if (!volume) GTEST_SKIP() << whyNot;
  // A file where the disk's trash would be: none can be made there.
  const fs::path blocked = volume->path() / (".Trash-" + userId());
  testsupport::writeFile(blocked, "not a folder");
  const fs::path stuff = volume->path() / "stuff";
  testsupport::writeFile(stuff / "big" / "a", std::string(5000, 'a'));
  testsupport::writeFile(stuff / "small", "s");
  testsupport::writeFile(dir / "mine" / "precious.txt", "precious");
  fs::create_directory_symlink(dir / "mine", stuff / "big" / "to-mine");
  auto trash = std::make_shared<ConfinedTrash>(std::vector{home.path(), dir.path()});
  auto model = browse(stuff, dir / "s.tfsnap", trash);
  tallyfox::DeleteList& list = model->deleteList();

  markAndTrash(*model, {"big", "small"});
  ASSERT_TRUE(list.trash().lastTrash());
  const QString why = QStringLiteral(": there is no Trash on its file system (") +
                      QString::fromStdString(blocked.string()) + QStringLiteral(" is not a folder)");
  EXPECT_EQ(list.trash().lastTrash()->failures, (QStringList{"big" + why, "small" + why}));
  EXPECT_TRUE(list.trash().canDeletePermanently());
  const std::uint64_t total = list.markedTotal();

  tallyfox::ConfirmationRequestPtr asked;
  QObject::connect(&model->requests(), &tallyfox::Requests::confirmationRequested,
                   [&](const tallyfox::ConfirmationRequestPtr& request) { asked = request; });
  list.trash().requestDeletePermanently();
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->title, QStringLiteral("Delete 2 items permanently?"));
  EXPECT_TRUE(asked->message.contains(tallyfox::Format::bytes(total) + " in all"))
      << asked->message.toStdString();
  EXPECT_TRUE(fs::exists(stuff / "big" / "a")) << "asking deletes nothing";
  asked->answer(true);
  ASSERT_TRUE(testsupport::waitFor([&] { return !list.trash().isDeleting(); }));
  EXPECT_EQ(testsupport::namesIn(stuff), std::vector<std::string>{});
  EXPECT_EQ(readText(dir / "mine" / "precious.txt"), "precious");
  EXPECT_EQ(*list.trash().lastTrash(), (tallyfox::TrashResult{2, total, {}, false, true}));
  EXPECT_TRUE(list.isEmpty());
  EXPECT_FALSE(list.trash().canDeletePermanently());
}

}  // namespace
