#include "ModelTestSupport.h"
#include "model/EntryActions.h"

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::idOf;
namespace fs = std::filesystem;

namespace {

using Menu = EntryActions::Menu;

QStringList titlesOf(Menu menu, const EntryTarget& target) {
  QStringList titles;
  for (const EntryMenuItem& item : EntryActions::items(menu, target))
    titles << (item.separatorBefore ? QStringLiteral("- ") : QString()) + item.title;
  return titles;
}

bool run(const QString& id, const EntryTarget& target) {
  const EntryAction* action = EntryActions::find(id);
  return action && EntryActions::run(*action, target);
}

// A window on a folder of real files: docs/ holding a.txt and b.txt.
class EntryActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir.path() / "tree";
    for (const char* name : {"docs/a.txt", "docs/b.txt"}) testsupport::writeFile(root / name, "text");
    file = dir.path() / "tree.tfsnap";
    testsupport::writeSnapshot(file, {{-1, ""}, {0, "docs"}, {1, "a.txt", 5}, {1, "b.txt", 4}},
                               root.string());
    model = testsupport::loadedModel(file, desktop.desktop());
    ASSERT_TRUE(model->tree());
  }

  QByteArray bytes(const fs::path& path) const { return QByteArray::fromStdString(path.string()); }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  fs::path root, file;
  testsupport::RecordingDesktop desktop;
  std::unique_ptr<BrowserModel> model;
};

}  // namespace

TEST_F(EntryActionsTest, AFileApartFromAnyWindowIsRevealedAndCopiedThroughTheServicesGiven) {
  const EntryTarget snapshot = EntryTarget::file(bytes(file), desktop.desktop());
  EXPECT_EQ(titlesOf(Menu::recentSnapshot, snapshot), (QStringList{"Reveal in File Manager", "Copy Path"}));
  EXPECT_TRUE(run("reveal", snapshot));
  EXPECT_TRUE(run("copyPath", snapshot));
  EXPECT_EQ(desktop.state->revealed, QByteArrayList{bytes(file)});
  EXPECT_EQ(desktop.state->copiedTexts, QStringList{QString::fromStdString(file.string())});
  // Nothing that needs a window is offered or run without one.
  EXPECT_FALSE(run("togglePreview", snapshot));
  EXPECT_FALSE(run("openInTerminal", snapshot));
}

TEST_F(EntryActionsTest, EveryMenuNamesAnActionAlikeAndActsOnTheSameEntry) {
  const NodeId a = idOf(*model, "a.txt");
  const EntryTarget entry = EntryTarget::entry(*model, a);
  EXPECT_EQ(titlesOf(Menu::duplicate, entry),
            (QStringList{"Reveal in File Manager", "Preview", "Copy Path"}));
  EXPECT_EQ(titlesOf(Menu::deleteListItem, entry),
            (QStringList{"Reveal in File Manager", "Show in Tallyfox", "Copy Path"}));
  EXPECT_EQ(titlesOf(Menu::largestFile, entry).mid(0, 4),
            (QStringList{"Show in List", "- Preview", "Reveal in File Manager", "Open"}));

  // The list's Preview toggles as Space does; the duplicates' shows its file in place of
  // whatever preview is open.
  const EntryTarget b = EntryTarget::entry(*model, idOf(*model, "b.txt"));
  EXPECT_TRUE(run("togglePreview", entry));
  EXPECT_EQ(model->previewPath(), bytes(root / "docs" / "a.txt"));
  EXPECT_TRUE(run("showPreview", b));
  EXPECT_EQ(model->previewPath(), bytes(root / "docs" / "b.txt"));
  EXPECT_TRUE(run("togglePreview", entry));
  EXPECT_TRUE(model->previewURL().isEmpty());

  // A crumb's folder that is gone from the disk reveals what is left of it, as a row does.
  const NodeId docs = idOf(*model, "docs");
  fs::remove_all(root / "docs");
  EXPECT_TRUE(run("reveal", EntryTarget::folder(*model, bytes(root / "docs"), docs)));
  EXPECT_TRUE(run("reveal", entry));
  EXPECT_EQ(desktop.state->revealed, (QByteArrayList{bytes(root), bytes(root)}));
}

TEST_F(EntryActionsTest, AMenuThatOutlivesItsWindowDoesNothing) {
  const EntryTarget entry = EntryTarget::entry(*model, idOf(*model, "docs"));
  const EntryTarget above = EntryTarget::folder(*model, bytes(root.parent_path()), std::nullopt);
  ASSERT_FALSE(titlesOf(Menu::folderPath, above).isEmpty());
  model.reset();
  for (const EntryAction& action : EntryActions::all()) {
    EXPECT_FALSE(EntryActions::run(action, entry)) << action.id.toStdString();
    EXPECT_FALSE(EntryActions::run(action, above)) << action.id.toStdString();
  }
  EXPECT_TRUE(desktop.state->revealed.isEmpty());
  EXPECT_TRUE(desktop.state->terminals.isEmpty());
}
