// What the mouse does beyond a click: the context menus of entries and crumbs, dragging a
// file out of the window, and the back and forward buttons.
#include "ViewTestSupport.h"

#include "model/DeleteList.h"
#include "model/Duplicates.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/EntryMenus.h"
#include "views/SunburstView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace {

namespace fs = std::filesystem;
using testsupport::Node;
using viewtests::idOf;
using viewtests::nameOf;
using Texts = std::vector<std::string>;

// The menu's items as shown, "-" for a divider, "(off)" after a disabled item.
Texts textsOf(const QMenu& menu) {
  Texts texts;
  for (const QAction* action : menu.actions())
    texts.push_back(
        action->isSeparator() ? "-" : action->text().toStdString() + (action->isEnabled() ? "" : " (off)"));
  return texts;
}

void trigger(const QMenu& menu, const std::string& text) {
  for (QAction* action : menu.actions())
    if (action->text().toStdString() == text) return action->trigger();
  ADD_FAILURE() << "no item " << text;
}

class EntryMenusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir / "tree";
    testsupport::writeFile(root / "docs" / "inner.txt", "inner");
    testsupport::writeFile(root / "it's", "quoted");
    file = viewtests::writeSnapshot(
        dir / "tree.tfsnap", {{-1, ""}, {0, "docs"}, {0, "it's", 10}, {1, "inner.txt", 5}}, root.string());
    window = viewtests::openBrowser(file, viewtests::recordingDesktop(log));
    model = window->browser();
    list = window->view()->list();
  }

  QByteArray bytes(const fs::path& path) const { return QByteArray::fromStdString(path.string()); }

  void mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
  }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  fs::path root, file;
  std::shared_ptr<viewtests::DesktopLog> log = std::make_shared<viewtests::DesktopLog>();
  std::unique_ptr<tallyfox::BrowserWindow> window;
  tallyfox::BrowserModel* model = nullptr;
  tallyfox::EntryList* list = nullptr;
};

TEST_F(EntryMenusTest, AnEntrysMenuOffersWhatSuitsItAndActsOnIt) {
  const tallyfox::NodeId docs = idOf(*model, "docs"), quoted = idOf(*model, "it's"),
                         inner = idOf(*model, "inner.txt");
  QMenu folderMenu;
  tallyfox::fillEntryMenu(folderMenu, *model, docs);
  EXPECT_EQ(textsOf(folderMenu),
            (Texts{"Open in Tallyfox", "Expand", "-", "Rescan This Folder", "Open in Terminal",
                   "Find Duplicates Here", "Largest Files Here", "File Types Here", "-", "Preview",
                   "Reveal in File Manager", "Open in File Manager", "-", "Add to Delete List", "-", "Copy",
                   "Copy Path", "Copy Name", "Copy Path for Shell"}));
  trigger(folderMenu, "Expand");
  EXPECT_TRUE(model->expanded().contains(docs));
  trigger(folderMenu, "Open in Terminal");
  EXPECT_EQ(log->terminals, QByteArrayList{bytes(root / "docs")});

  QMenu fileMenu;
  tallyfox::fillEntryMenu(fileMenu, *model, quoted);
  EXPECT_EQ(textsOf(fileMenu), (Texts{"Preview", "Reveal in File Manager", "Open", "-", "Add to Delete List",
                                      "-", "Copy", "Copy Path", "Copy Name", "Copy Path for Shell"}));
  trigger(fileMenu, "Copy Path for Shell");
  trigger(fileMenu, "Copy Name");
  EXPECT_EQ(log->copiedTexts,
            (QStringList{QStringLiteral("'%1/it'\\''s'").arg(QString::fromStdString(root.string())),
                         QStringLiteral("it's")}));

  // A listed folder: it can come off the list; what is inside it cannot be listed apart.
  model->deleteList().toggleMark(docs);
  QMenu listed, inside;
  tallyfox::fillEntryMenu(listed, *model, docs);
  tallyfox::fillEntryMenu(inside, *model, inner);
  EXPECT_EQ(textsOf(listed)[1], "Collapse");
  EXPECT_EQ(textsOf(listed)[13], "Remove from Delete List");
  EXPECT_EQ(textsOf(inside)[4], "Add to Delete List (off)");

  // A crumb's folder: the folder on disk, and what the window does with it.
  QMenu crumb;
  tallyfox::fillFolderPathMenu(crumb, *model, bytes(root / "docs"), docs);
  EXPECT_EQ(textsOf(crumb),
            (Texts{"Reveal in File Manager", "Open in Terminal", "Copy Path", "Copy", "-",
                   "Rescan This Folder", "Find Duplicates Here", "Largest Files Here", "File Types Here",
                   "Compare with Previous (off)"}));  // no earlier snapshot
  trigger(crumb, "Reveal in File Manager");
  EXPECT_EQ(log->revealed, QByteArrayList{bytes(root / "docs")});
  // A crumb above the snapshot's root: scanned from there, with or without the snapshot's part.
  QMenu above;
  tallyfox::fillFolderPathMenu(above, *model, bytes(root.parent_path()), std::nullopt);
  const std::string name = root.parent_path().filename().string();
  const Texts aboveTexts = textsOf(above);
  EXPECT_EQ(Texts(aboveTexts.begin() + 4, aboveTexts.end()),
            (Texts{"-", "Scan the Rest of " + name, "Rescan All of " + name}));

  // Searching a folder opens the duplicates view on it; while it is open, no second one.
  trigger(folderMenu, "Find Duplicates Here");
  ASSERT_TRUE(model->duplicates().isOpen());
  EXPECT_EQ(model->duplicates().state()->scope(), docs);
  QMenu again;
  tallyfox::fillEntryMenu(again, *model, docs);
  EXPECT_EQ(textsOf(again)[5], "Find Duplicates Here (off)");
  model->duplicates().close();
}

TEST_F(EntryMenusTest, APressBecomesADragOnlyAfterFivePixelsAndOnlyOfAFileThatIsThere) {
  QByteArray dragged, uris;
  list->dragOut().setStart([&](QWidget*, QMimeData* data, const QByteArray& path) {
    dragged = path;
    uris = data->data(QStringLiteral("text/uri-list"));
    delete data;
  });
  QWidget* viewport = list->viewport();
  const auto rowCenter = [&](const std::string& name) { return list->rowRect(idOf(*model, name)).center(); };

  // A press that moves a little is still a click: the file is selected, nothing dragged.
  const QPoint quoted = rowCenter("it's");
  mouse(viewport, QEvent::MouseButtonPress, quoted, Qt::LeftButton, Qt::LeftButton);
  mouse(viewport, QEvent::MouseMove, quoted + QPoint(3, 4), Qt::NoButton, Qt::LeftButton);
  EXPECT_NE(nameOf(*model, model->selection()), "it's");  // a click acts on release
  mouse(viewport, QEvent::MouseButtonRelease, quoted + QPoint(3, 4), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(nameOf(*model, model->selection()), "it's");
  EXPECT_TRUE(dragged.isEmpty());

  // Further, it drags the folder instead of entering it.
  const QPoint docs = rowCenter("docs");
  mouse(viewport, QEvent::MouseButtonPress, docs, Qt::LeftButton, Qt::LeftButton);
  mouse(viewport, QEvent::MouseMove, docs + QPoint(6, 0), Qt::NoButton, Qt::LeftButton);
  mouse(viewport, QEvent::MouseButtonRelease, docs + QPoint(6, 0), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(dragged, bytes(root / "docs"));
  EXPECT_EQ(uris, "file://" + bytes(root / "docs").toPercentEncoding("/") + "\r\n");
  EXPECT_EQ(model->current(), tallyfox::DiskTree::root);  // not entered

  // A file gone from the disk gives no drag.
  dragged.clear();
  fs::remove(root / "it's");
  mouse(viewport, QEvent::MouseButtonPress, quoted, Qt::LeftButton, Qt::LeftButton);
  mouse(viewport, QEvent::MouseMove, quoted + QPoint(0, 10), Qt::NoButton, Qt::LeftButton);
  mouse(viewport, QEvent::MouseButtonRelease, quoted + QPoint(0, 10), Qt::LeftButton, Qt::NoButton);
  EXPECT_TRUE(dragged.isEmpty());
}

TEST_F(EntryMenusTest, TheMouseBackAndForwardButtonsWorkOverTheChart) {
  const tallyfox::NodeId top = model->current(), docs = idOf(*model, "docs");
  model->navigate(docs);
  QWidget* chart = window->view()->chart();
  const QPoint middle = chart->rect().center();
  mouse(chart, QEvent::MouseButtonPress, middle, Qt::BackButton, Qt::BackButton);
  EXPECT_EQ(model->current(), top);
  mouse(list->viewport(), QEvent::MouseButtonPress, QPoint(5, 5), Qt::ForwardButton, Qt::ForwardButton);
  EXPECT_EQ(model->current(), docs);
  // The middle button is not one of them.
  mouse(chart, QEvent::MouseButtonPress, middle, Qt::MiddleButton, Qt::MiddleButton);
  EXPECT_EQ(model->current(), docs);
}

}  // namespace
