#include "ModelTestSupport.h"
#include "model/BrowserCommands.h"
#include "model/DeleteList.h"
#include "model/DeleteListExport.h"
#include "model/Documents.h"
#include "model/FileActions.h"
#include "model/PartialScans.h"
#include "model/TrashWork.h"

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>
#include <fstream>
#include <sstream>

using namespace tallyfox;
using testsupport::idOf;
using testsupport::Node;
using testsupport::waitFor;
namespace fs = std::filesystem;

namespace {

std::string contentsOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct RecentDocuments : Documents {
  BrowserModel* openDocument(const fs::path&) override { return nullptr; }
  bool closeDocument(const fs::path&) override { return false; }
  std::vector<BrowserModel*> browsers() const override { return {}; }
  std::vector<fs::path> recentDocuments() const override { return noted; }
  void noteRecentDocument(const fs::path& file) override { noted.push_back(file); }
  std::vector<fs::path> noted;
};

// A folder on disk and its snapshot:
//   big/ (900) = sub/ (600, holding a.bin) + b.bin (300);  mid/ (500) = c.bin;
//   "Bob's notes" (100);  small (50)
class DeleteListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = disk.path() / "disk";
    for (const char* file : {"big/sub/a.bin", "big/b.bin", "mid/c.bin", "Bob's notes", "small"}) {
      fs::create_directories((root / file).parent_path());
      testsupport::writeFile(root / file, "x");
    }
    const auto file = disk.path() / "disk.tfsnap";
    testsupport::writeSnapshot(file,
                               {{-1, ""},
                                {0, "big"},
                                {0, "mid"},
                                {0, "Bob's notes", 100},
                                {0, "small", 50},
                                {1, "sub"},
                                {1, "b.bin", 300},
                                {2, "c.bin", 500},
                                {5, "a.bin", 600}},
                               root.string());
    Services services(recorder.desktop());
    services.documents = &documents;
    model = std::make_unique<BrowserModel>(file, services);
    model->load();
    testsupport::waitUntilLoaded(*model);
    ASSERT_EQ(model->current(), DiskTree::root);
  }

  NodeId id(const std::string& name) { return idOf(*model, name); }
  DeleteList& list() { return model->deleteList(); }
  QByteArray bytesOf(const std::string& relative) {
    return QByteArray::fromStdString((root / relative).string());
  }
  std::vector<std::string> shownNames() {
    std::vector<std::string> names;
    for (const auto& row : model->rows()) names.push_back(model->tree()->name(row.node));
    return names;
  }
  void trashAndWait() {
    list().trash().trashMarked();
    ASSERT_TRUE(waitFor([&] { return !list().trash().isTrashing(); }));
  }
  // The list file once it holds `expected`; what it holds when it never does.
  std::string listFileWhenItReads(const std::string& expected) {
    waitFor([&] { return contentsOf(DeleteListExport::deleteListFile()) == expected; },
            std::chrono::seconds(5));
    return contentsOf(DeleteListExport::deleteListFile());
  }

  testsupport::ScopedHome home;
  testsupport::TempDir disk;
  fs::path root;
  testsupport::RecordingDesktop recorder;
  RecentDocuments documents;
  std::unique_ptr<BrowserModel> model;
};

TEST_F(DeleteListTest, AFileInsideAListedFolderIsCoveredByIt) {
  list().toggleMark(id("big"));
  list().toggleMark(id("a.bin"));
  EXPECT_EQ(list().markedOrder().size(), 2u);
  EXPECT_TRUE(list().isInsideMarked(id("a.bin")));
  EXPECT_FALSE(list().isInsideMarked(id("big")));
  EXPECT_EQ(list().topLevel(), std::vector<NodeId>{id("big")});
  EXPECT_EQ(list().markedPaths(), QStringList{QString::fromStdString((root / "big").string())});
  EXPECT_EQ(list().markedTotal(), 900u);
  EXPECT_EQ(list().summary(), QStringLiteral("1 to delete · 900 bytes"));
  EXPECT_EQ(listFileWhenItReads((root / "big").string() + "\n"), (root / "big").string() + "\n");

  // The row of the file shows it as listed; its siblings as inside the folder.
  model->navigate(id("sub"));
  EXPECT_EQ(model->rowValues({id("a.bin"), 0}).mark, BrowserModel::RowValues::Mark::marked);
  model->navigate(id("big"));
  EXPECT_EQ(model->rowValues({id("b.bin"), 0}).mark, BrowserModel::RowValues::Mark::inside);

  trashAndWait();
  EXPECT_EQ(recorder.state->trashed, QByteArrayList{bytesOf("big")}) << "the folder alone is moved";
  EXPECT_TRUE(list().isEmpty()) << "the file inside went with it";
  EXPECT_TRUE(list().isHiddenByTrash(id("a.bin")));
  EXPECT_EQ(model->current(), DiskTree::root) << "the window left the folder that went to the Trash";
  EXPECT_EQ(shownNames(), (std::vector<std::string>{"mid", "Bob's notes", "small"}));
  EXPECT_EQ(listFileWhenItReads(""), "");
  model->goBack();
  EXPECT_EQ(model->current(), DiskTree::root) << "history does not lead back into the Trash";
  EXPECT_EQ(model->selection(), std::optional(id("mid")));
}

TEST_F(DeleteListTest, TogglingTwiceLeavesEverythingAsBeforeAndTheRootIsNeverListed) {
  list().toggleMark(DiskTree::root);
  EXPECT_TRUE(list().isEmpty());

  model->setSelection(id("small"));
  ASSERT_TRUE(BrowserCommands::run(*BrowserCommands::find("toggleMark"), *model));
  EXPECT_EQ(list().markedOrder(), std::vector<NodeId>{id("small")});
  EXPECT_EQ(listFileWhenItReads((root / "small").string() + "\n"), (root / "small").string() + "\n");
  list().toggleMark();
  EXPECT_TRUE(list().isEmpty());
  EXPECT_FALSE(list().isMarked(id("small")));
  EXPECT_EQ(listFileWhenItReads(""), "");

  // "d" reaches the same command from the list, though the command's keys are the menu's.
  const BrowserCommand* typed = BrowserCommands::forListKey(QKeyCombination(Qt::Key_D), QStringLiteral("d"));
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->id, QStringLiteral("toggleMark"));
}

TEST_F(DeleteListTest, MoveToTrashTakesTheSelectionWhenTheListIsEmptyAndBeepsWithNeither) {
  const BrowserCommand& moveToTrash = *BrowserCommands::find("moveToTrash");
  model->setSelection(id("small"));
  ASSERT_TRUE(BrowserCommands::run(moveToTrash, *model));
  ASSERT_TRUE(waitFor([&] { return list().trash().lastTrash().has_value(); }));
  EXPECT_EQ(recorder.state->trashed, QByteArrayList{bytesOf("small")});
  EXPECT_EQ(TrashWork::resultText(*list().trash().lastTrash()),
            QStringLiteral("Moved 1 item to the Trash · 50 bytes"));
  EXPECT_EQ(model->selection(), std::optional(id("big"))) << "the first row is selected again";
  EXPECT_EQ(model->overlay().size(DiskTree::root, *model->tree()), 1500u);

  model->setSelection(std::nullopt);
  BrowserCommands::run(moveToTrash, *model);
  EXPECT_EQ(recorder.state->beeps, 1);
  EXPECT_EQ(recorder.state->trashed.size(), 1);
}

TEST_F(DeleteListTest, TrashActionsAddUpUntilTheTrashIsEmptied) {
  list().toggleMark(id("Bob's notes"));
  list().toggleMark(id("small"));
  trashAndWait();
  EXPECT_EQ(*list().trash().lastTrash(), (TrashResult{2, 150, {}, false}));
  for (const char* name : {"mid", "b.bin", "sub"}) list().toggleMark(id(name));
  trashAndWait();
  EXPECT_EQ(*list().trash().lastTrash(), (TrashResult{5, 1550, {}, false}));
  EXPECT_EQ(TrashWork::resultText(*list().trash().lastTrash()),
            QStringLiteral("Moved 5 items to the Trash · 1.6 kB"));

  // Emptying asks first, with the words the user must see; only the confirming button acts.
  ConfirmationRequestPtr asked;
  QObject::connect(&model->requests(), &Requests::confirmationRequested,
                   [&](const ConfirmationRequestPtr& request) { asked = request; });
  ASSERT_TRUE(BrowserCommands::run(*BrowserCommands::find("emptyTrash"), *model));
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->title, QStringLiteral("Empty the Trash?"));
  EXPECT_EQ(asked->message,
            QStringLiteral("This permanently deletes everything in the Trash, including items "
                           "that didn't come from Tallyfox. It can't be undone."));
  EXPECT_EQ(asked->confirmText, QStringLiteral("Empty Trash"));
  EXPECT_TRUE(asked->destructive);
  asked->answer(true);
  EXPECT_TRUE(list().trash().isEmptyingTrash());
  ASSERT_TRUE(waitFor([&] { return !list().trash().isEmptyingTrash(); }));
  EXPECT_EQ(recorder.state->emptied, 1);
  EXPECT_EQ(*list().trash().lastTrash(), (TrashResult{5, 1550, {}, true}));
  EXPECT_EQ(TrashWork::resultText(*list().trash().lastTrash()),
            QStringLiteral("Trash emptied · 1.6 kB freed"));

  // The next move counts on its own again; a failed emptying says why.
  list().toggleMark(id("big"));
  trashAndWait();
  EXPECT_EQ(*list().trash().lastTrash(), (TrashResult{1, 0, {}, false})) << "what was left of it: nothing";
  recorder.state->emptyError = QStringLiteral("Permission denied");
  list().trash().emptyTrash();
  ASSERT_TRUE(waitFor([&] { return !list().trash().isEmptyingTrash(); }));
  EXPECT_EQ(*list().trash().lastTrash(),
            (TrashResult{0, 0, {"Couldn't empty the Trash: Permission denied"}, false}));
  list().trash().dismissResult();
  EXPECT_FALSE(list().trash().lastTrash());
}

TEST_F(DeleteListTest, AnItemThatStaysIsReportedAndOneAlreadyGoneCountsAsMoved) {
  // A name that is not UTF-8 is moved by its bytes, not reported gone.
  const std::string latin1 = "caf\xe9";
  testsupport::writeFile(root / latin1, "x");
  const auto file = disk.path() / "bytes.tfsnap";
  testsupport::writeSnapshot(file, {{-1, ""}, {0, latin1, 70}, {0, "small", 50}, {0, "gone", 10}},
                             root.string());
  model = testsupport::loadedModel(file, recorder.desktop());
  recorder.state->trashFails << bytesOf("small");
  for (NodeId node = 1; node <= 3; ++node) list().toggleMark(node);
  trashAndWait();
  EXPECT_EQ(recorder.state->trashed, QByteArrayList{bytesOf(latin1)}) << "nothing is asked of what is gone";
  EXPECT_EQ(list().trash().lastTrash()->count, 2);
  EXPECT_EQ(list().trash().lastTrash()->bytes, 80u);
  EXPECT_EQ(list().trash().lastTrash()->failures, QStringList{"small: Permission denied"});
  EXPECT_EQ(TrashWork::failuresText(*list().trash().lastTrash()), QStringLiteral("1 couldn't be moved"));
  EXPECT_EQ(list().markedOrder(), std::vector<NodeId>{idOf(*model, "small")}) << "what stayed stays listed";
  EXPECT_EQ(shownNames(), std::vector<std::string>{"small"});
}

// A snapshot file may be damaged or made by hand: a name ".." under "big" makes the path of
// the disk folder itself, and a name "a/b" a path inside another entry. No file action takes
// such a path: Trash, the list file, reveal, open, terminal, copying, rescan.
TEST_F(DeleteListTest, FileActionsRefuseAPathThatLeadsElsewhere) {
  const auto file = disk.path() / "crafted.tfsnap";
  testsupport::writeSnapshot(
      file, {{-1, ""}, {0, "big"}, {0, "small", 50}, {0, "big/sub", 5}, {1, ".."}, {4, "inside", 600}},
      root.string());
  model = testsupport::loadedModel(file, recorder.desktop());
  const NodeId up = idOf(*model, ".."), slashed = idOf(*model, "big/sub");
  ASSERT_EQ(model->tree()->filePath(up), (root / "big" / "..").string());
  EXPECT_FALSE(model->filePath(up));
  EXPECT_FALSE(model->filePath(slashed));

  model->files().revealInFinder(up);
  model->files().openSelection(up);
  model->togglePreview(slashed);
  model->files().copyFileReference(up);
  model->files().copyPath(up);
  model->files().openInTerminal(QByteArray::fromStdString((root / "big" / "..").string()));
  EXPECT_TRUE(recorder.state->revealed.isEmpty());
  EXPECT_TRUE(recorder.state->opened.isEmpty());
  EXPECT_TRUE(recorder.state->copiedReferences.isEmpty());
  EXPECT_TRUE(recorder.state->copiedTexts.isEmpty());
  EXPECT_TRUE(recorder.state->terminals.isEmpty());
  EXPECT_EQ(recorder.state->beeps, 4) << "reveal, open, preview and the terminal say no";
  EXPECT_TRUE(model->previewURL().isEmpty());

  model->partialScans().rescanFolder(up);
  EXPECT_FALSE(model->partialScans().isRunning()) << "the disk folder would be scanned in its place";

  for (const char* name : {"..", "small", "big/sub"}) list().toggleMark(idOf(*model, name));
  EXPECT_EQ(list().markedPaths(), QStringList{QString::fromStdString((root / "small").string())});
  EXPECT_EQ(listFileWhenItReads((root / "small").string() + "\n"), (root / "small").string() + "\n");
  trashAndWait();
  EXPECT_EQ(recorder.state->trashed, QByteArrayList{bytesOf("small")});
  const QString left = QStringLiteral(": left where it is, as its name in the snapshot could lead elsewhere");
  EXPECT_EQ(list().trash().lastTrash()->failures, (QStringList{".." + left, "big/sub" + left}));
  EXPECT_EQ(list().trash().lastTrash()->count, 1);
  EXPECT_EQ(list().markedOrder(), (std::vector<NodeId>{up, slashed})) << "what stayed stays listed";
}

TEST_F(DeleteListTest, PathsAreCopiedOnePerLineOrShellQuoted) {
  list().toggleMark(id("Bob's notes"));
  list().toggleMark(id("small"));
  list().exporting().copyMarkedPaths(DeleteListExport::ListStyle::onePerLine);
  list().exporting().copyMarkedPaths(DeleteListExport::ListStyle::shellQuoted);
  const QString base = QString::fromStdString(root.string());
  EXPECT_EQ(recorder.state->copiedTexts,
            (QStringList{base + "/Bob's notes\n" + base + "/small",
                         "'" + base + "/Bob'\\''s notes' '" + base + "/small'"}));
  // Bytes no text can hold go through the shell's own escapes.
  EXPECT_EQ(DeleteListExport::shellQuoted("/tmp/caf\xe9 x"), QStringLiteral("'/tmp/caf'$'\\xe9'' x'"));
  EXPECT_EQ(DeleteListExport::shellQuoted("/tmp/\xc3\xa9t\xc3\xa9"), QStringLiteral("'/tmp/\u00e9t\u00e9'"));
}

TEST_F(DeleteListTest, AFolderMovedToTheTrashTakesItsSizeOutOfItsParentAndTheSiblingsResort) {
  model->navigate(id("big"), id("sub"));
  list().toggleMark(id("sub"));
  trashAndWait();
  const DiskTree& tree = *model->tree();
  EXPECT_EQ(model->overlay().size(id("big"), tree), 300u);
  EXPECT_EQ(model->overlay().size(DiskTree::root, tree), 950u);
  EXPECT_EQ(model->selection(), std::optional(id("b.bin")));
  model->goUp();
  EXPECT_EQ(shownNames(), (std::vector<std::string>{"mid", "big", "Bob's notes", "small"}));
  EXPECT_EQ(model->rowValues({id("big"), 0}).size, 300u);
  EXPECT_TRUE(model->isExpandable(id("big")));
  list().toggleMark(id("b.bin"));
  trashAndWait();
  EXPECT_FALSE(model->isExpandable(id("big"))) << "nothing is left in it to show";

  // Shrinking keeps an entry listed but takes its size out, and the rows re-sort for it too.
  SizeOverlay edited(model->overlay());
  edited.shrink(id("mid"), tree);
  edited.shrink(id("mid"), tree);  // nothing left to take
  EXPECT_EQ(edited.shrunk, 1);
  model->setOverlay(SizeOverlay::share(std::move(edited)));
  EXPECT_EQ(shownNames(), (std::vector<std::string>{"Bob's notes", "small", "big", "mid"}))
      << "equal sizes: stored order";
  EXPECT_EQ(model->overlay().size(DiskTree::root, tree), 150u);
}

TEST_F(DeleteListTest, TheListAndTheSnapshotAreSavedWhereTheUserChooses) {
  FileRequestPtr asked;
  QObject::connect(&model->requests(), &Requests::fileRequested,
                   [&](const FileRequestPtr& request) { asked = request; });
  list().toggleMark(id("small"));
  list().exporting().saveMarkedList();
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->proposedName, QStringLiteral("delete-list.txt"));
  asked->answer(disk.path() / "mine.txt");
  const std::string expected = (root / "small").string() + "\n";
  EXPECT_TRUE(waitFor([&] { return contentsOf(disk.path() / "mine.txt") == expected; }));

  // A place that cannot be written is said, not passed over as saved.
  QString alerted;
  QObject::connect(&model->requests(), &Requests::alertRequested,
                   [&](const QString& title, const QString&) { alerted = title; });
  asked.reset();
  list().exporting().saveMarkedList();
  ASSERT_TRUE(asked);
  asked->answer(disk.path() / "no such folder" / "mine.txt");
  ASSERT_TRUE(waitFor([&] { return !alerted.isEmpty(); }));
  EXPECT_EQ(alerted, QStringLiteral("Couldn't save the delete list"));

  asked.reset();
  ASSERT_TRUE(BrowserCommands::run(*BrowserCommands::find("saveSnapshotAs"), *model));
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->kind, FileRequest::Kind::save);
  EXPECT_EQ(asked->folder, home.path() / ".local/share/tallyfox");
  EXPECT_TRUE(fs::is_directory(asked->folder));
  EXPECT_TRUE(asked->proposedName.startsWith(QStringLiteral("disk-"))) << asked->proposedName.toStdString();
  EXPECT_TRUE(asked->proposedName.endsWith(QStringLiteral(".tfsnap")));
  asked->answer(disk.path() / "copy");
  ASSERT_TRUE(waitFor([&] { return !documents.noted.empty(); }));
  EXPECT_EQ(documents.noted, std::vector<fs::path>{disk.path() / "copy.tfsnap"});
  EXPECT_EQ(SnapshotFile::map(disk.path() / "copy.tfsnap")->totalNodes(), model->tree()->totalNodes());

  // A place that cannot be written is told to the user, and nothing is noted.
  QStringList alerts;
  QObject::connect(&model->requests(), &Requests::alertRequested,
                   [&](const QString& title, const QString&) { alerts << title; });
  BrowserCommands::run(*BrowserCommands::find("saveSnapshotAs"), *model);
  asked->answer(disk.path() / "no such folder" / "x.tfsnap");
  ASSERT_TRUE(waitFor([&] { return !alerts.isEmpty(); }));
  EXPECT_EQ(alerts, QStringList{"Couldn't save the snapshot"});
  EXPECT_EQ(documents.noted.size(), 1u);
}

TEST_F(DeleteListTest, WhatTheTrashRefusedIsDeletedPermanentlyOnlyAfterTheAnswerAndOnlyWhileListed) {
  recorder.state->trashFails << bytesOf("big") << bytesOf("small") << bytesOf("mid");
  for (const char* name : {"big", "small", "mid", "Bob's notes"}) list().toggleMark(id(name));
  trashAndWait();
  EXPECT_EQ(list().trash().lastTrash()->failures,
            (QStringList{"big: Permission denied", "small: Permission denied", "mid: Permission denied"}));
  EXPECT_EQ(list().trash().refusedByTrash(), (std::vector<NodeId>{id("big"), id("small"), id("mid")}));
  list().toggleMark(id("mid"));
  EXPECT_EQ(list().trash().refusedByTrash(), (std::vector<NodeId>{id("big"), id("small")}))
      << "off the list, not offered";

  std::vector<ConfirmationRequestPtr> asked;
  QObject::connect(&model->requests(), &Requests::confirmationRequested,
                   [&](const ConfirmationRequestPtr& request) { asked.push_back(request); });
  const BrowserCommand& command = *BrowserCommands::find("deletePermanently");
  ASSERT_TRUE(BrowserCommands::run(command, *model));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0]->title, QStringLiteral("Delete 2 items permanently?"));
  EXPECT_EQ(asked[0]->message, QStringLiteral("No trash could take them (950 bytes in all):\n"
                                              "• big: Permission denied\n• small: Permission denied\n\n"
                                              "They will be deleted immediately. You can't undo this."));
  EXPECT_EQ(asked[0]->confirmText, QStringLiteral("Delete Permanently"));
  EXPECT_TRUE(asked[0]->destructive);
  asked[0]->answer(false);
  EXPECT_FALSE(list().trash().isDeleting());
  EXPECT_TRUE(recorder.state->deleted.isEmpty());

  // Taken off the list while the question is open, an item stays whatever the answer.
  ASSERT_TRUE(BrowserCommands::run(command, *model));
  ASSERT_EQ(asked.size(), 2u);
  list().toggleMark(id("small"));
  asked[1]->answer(true);
  EXPECT_TRUE(list().trash().isDeleting());
  EXPECT_FALSE(command.isEnabled(*model));
  ASSERT_TRUE(waitFor([&] { return !list().trash().isDeleting(); }));
  EXPECT_EQ(recorder.state->deleted, QByteArrayList{bytesOf("big")});
  EXPECT_EQ(recorder.state->deletedBelow, QByteArrayList{QByteArray::fromStdString(root.string())});
  EXPECT_EQ(*list().trash().lastTrash(), (TrashResult{1, 900, {}, false, true}));
  EXPECT_EQ(TrashWork::resultText(*list().trash().lastTrash()),
            QStringLiteral("Deleted 1 item permanently · 900 bytes"));
  EXPECT_TRUE(list().isHiddenByTrash(id("a.bin")));
  EXPECT_EQ(model->overlay().size(DiskTree::root, *model->tree()), 550u);
  EXPECT_FALSE(command.isEnabled(*model));

  // What cannot be deleted either stays listed, says why and is offered again.
  recorder.state->deleteFails << bytesOf("small");
  list().toggleMark(id("small"));
  trashAndWait();
  ASSERT_TRUE(BrowserCommands::run(command, *model));
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[2]->title, QStringLiteral("Delete 1 item permanently?"));
  EXPECT_TRUE(asked[2]->message.startsWith(QStringLiteral("No trash could take it (50 bytes):")));
  asked[2]->answer(true);
  ASSERT_TRUE(waitFor([&] { return !list().trash().isDeleting(); }));
  EXPECT_EQ(*list().trash().lastTrash(), (TrashResult{0, 0, {"small: Read-only file system"}, false, true}));
  EXPECT_EQ(TrashWork::failuresText(*list().trash().lastTrash()), QStringLiteral("1 couldn't be deleted"));
  EXPECT_EQ(list().markedOrder(), std::vector<NodeId>{id("small")});
  EXPECT_TRUE(command.isEnabled(*model));

  // Emptying the Trash afterwards frees nothing that was deleted for good.
  list().trash().emptyTrash();
  ASSERT_TRUE(waitFor([&] { return !list().trash().isEmptyingTrash(); }));
  EXPECT_EQ(*list().trash().lastTrash(), (TrashResult{0, 0, {}, true}));
  EXPECT_FALSE(command.isEnabled(*model)) << "the result that offered it is gone";
}

TEST_F(DeleteListTest, EmptyingNamesTheTrashesItLeftAlone) {
  const QString refused =
      QStringLiteral("/media/usb/.Trash-1000: its “files” is a symbolic link; not emptied");
  recorder.state->emptyRefused = {refused};
  list().trash().emptyTrash();
  ASSERT_TRUE(waitFor([&] { return !list().trash().isEmptyingTrash(); }));
  EXPECT_EQ(*list().trash().lastTrash(), (TrashResult{0, 0, {refused}, true}));
  EXPECT_EQ(TrashWork::resultText(*list().trash().lastTrash()), QStringLiteral("Trash emptied"));
  EXPECT_EQ(TrashWork::failuresText(*list().trash().lastTrash()), QStringLiteral("1 trash not emptied"));

  recorder.state->emptyError = QStringLiteral("Permission denied");
  list().trash().emptyTrash();
  ASSERT_TRUE(waitFor([&] { return !list().trash().isEmptyingTrash(); }));
  EXPECT_EQ(*list().trash().lastTrash(),
            (TrashResult{0, 0, {"Couldn't empty the Trash: Permission denied", refused}, false}));
}

TEST_F(DeleteListTest, TheListFileFollowsXdgDataHomeAndNeverLandsBelowTheRootFolder) {
  ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
  const fs::path file = home.path() / "data" / "tallyfox" / "delete-list.txt";
  EXPECT_EQ(DeleteListExport::deleteListFile(), file);
  list().toggleMark(id("small"));
  EXPECT_EQ(listFileWhenItReads((root / "small").string() + "\n"), (root / "small").string() + "\n");
  EXPECT_TRUE(fs::exists(file));

  // A relative one does not count, as the XDG rules say.
  ::setenv("XDG_DATA_HOME", "data", 1);
  EXPECT_EQ(DeleteListExport::deleteListFile(), home.path() / ".local/share/tallyfox/delete-list.txt");
  // Without HOME the user database says where the home is; without either, there is no file.
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("HOME");
  const passwd* user = ::getpwuid(::getuid());
  if (user && user->pw_dir && user->pw_dir[0] == '/')
    EXPECT_EQ(DeleteListExport::deleteListFile(),
              fs::path(user->pw_dir) / ".local/share/tallyfox/delete-list.txt");
  else
    EXPECT_EQ(DeleteListExport::deleteListFile(), fs::path());
  ::setenv("HOME", home.path().c_str(), 1);
}

}  // namespace
