#include "ViewTestSupport.h"

#include "model/DeleteList.h"
#include "model/TrashWork.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/DeleteListViews.h"
#include "views/EntryList.h"
#include "views/FilterField.h"
#include "views/RowDelegate.h"
#include "views/RowListModel.h"
#include "views/SunburstView.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

namespace {

namespace fs = std::filesystem;
using testsupport::Node;
using viewtests::idOf;
using viewtests::nameOf;
using Mark = tallyfox::BrowserModel::RowValues::Mark;

class DeleteListView : public ::testing::Test {
 protected:
  void SetUp() override {
    // photos (9000) > music (6000) > readme.txt (10); nothing of it exists on disk, so
    // everything moved counts as gone already.
    const auto file = viewtests::writeSnapshot(dir / "library.tfsnap", {{-1, "data"},
                                                                        {0, "photos"},
                                                                        {0, "music"},
                                                                        {0, "readme.txt", 10},
                                                                        {1, "a.jpg", 9000},
                                                                        {2, "song.mp3", 6000}});
    window = viewtests::openBrowser(file, viewtests::recordingDesktop(log));
    ASSERT_TRUE(window->browser()->state().isReady());
    model = window->browser();
    list = window->view()->list();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  tallyfox::DeleteList& marks() { return model->deleteList(); }
  QPoint centreOf(const std::string& name) { return list->rowRect(idOf(*model, name)).center(); }
  QPoint iconOf(const std::string& name) {
    const tallyfox::NodeId node = idOf(*model, name);
    QStyleOptionViewItem option;
    option.rect = list->rowRect(node);
    option.font = list->font();
    return list->rowDelegate()->layout(option, model->rowValues({node, 0})).icon.center().toPoint();
  }
  QMessageBox* messageBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) return box;
    return nullptr;
  }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::shared_ptr<viewtests::DesktopLog> log = std::make_shared<viewtests::DesktopLog>();
  std::unique_ptr<tallyfox::BrowserWindow> window;
  tallyfox::BrowserModel* model = nullptr;
  tallyfox::EntryList* list = nullptr;
};

TEST_F(DeleteListView, KeysClicksAndTheChartMarkWithoutMovingTheSelection) {
  tallyfox::DeleteListBar* bar = window->view()->deleteListBar();
  EXPECT_EQ(bar->text(), QString()) << "hidden while the list is empty";
  ASSERT_EQ(nameOf(*model, model->selection()), "photos");
  QTest::keyClick(list, 'd');
  EXPECT_TRUE(marks().isMarked(idOf(*model, "photos")));
  EXPECT_EQ(bar->text(), QStringLiteral("1 to delete · 9.0 kB"));
  QTest::keyClick(list, Qt::Key_Backspace);
  EXPECT_TRUE(marks().isEmpty());
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_TRUE(marks().isMarked(idOf(*model, "photos")));

  // Alt-click and Ctrl-click on a row, a click on its icon: marked, the selection stays.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::AltModifier, centreOf("music"));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, iconOf("readme.txt"));
  EXPECT_EQ(marks().markedOrder().size(), 3u);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, centreOf("readme.txt"));
  EXPECT_FALSE(marks().isMarked(idOf(*model, "readme.txt")));
  EXPECT_EQ(nameOf(*model, model->selection()), "photos");
  EXPECT_EQ(model->current(), tallyfox::DiskTree::root);
  EXPECT_EQ(model->rowValues({idOf(*model, "music"), 0}).mark, Mark::marked);
  EXPECT_EQ(tallyfox::RowDelegate::iconTooltip(Mark::inside),
            QStringLiteral("Inside a folder on the delete list"));

  // On the chart, Alt-click marks a segment instead of entering it.
  tallyfox::SunburstView* chart = window->view()->chart();
  QTest::mouseClick(chart, Qt::LeftButton, Qt::AltModifier, chart->pointAt(0.3, 1).toPoint());
  EXPECT_FALSE(marks().isMarked(idOf(*model, "photos")));
  EXPECT_EQ(model->current(), tallyfox::DiskTree::root);

  // Typing in the filter field edits it; the list's keys stay the list's.
  model->requestFilter();
  tallyfox::FilterField* field = window->view()->filterField();
  ASSERT_TRUE(field->hasFocus());
  QTest::keyClicks(field, "dm");
  QTest::keyClick(field, Qt::Key_Backspace);
  EXPECT_EQ(field->text(), QStringLiteral("d"));
  EXPECT_EQ(marks().markedOrder(), std::vector<tallyfox::NodeId>{idOf(*model, "music")});
}

TEST_F(DeleteListView, TheSheetReviewsTheListAndTheResultRowOffersToEmptyTheTrash) {
  marks().toggleMark(idOf(*model, "photos"));
  marks().toggleMark(idOf(*model, "song.mp3"));
  marks().toggleMark(idOf(*model, "readme.txt"));
  QTest::mouseClick(window->view()->deleteListBar()->reviewButton(), Qt::LeftButton);
  tallyfox::DeleteListDialog* sheet = window->view()->deleteListDialog();
  ASSERT_NE(sheet, nullptr);
  ASSERT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Delete List"));
  EXPECT_EQ(sheet->headline(), QStringLiteral("3 items · 15.0 kB"));
  // Delete takes the current row off, and the next one becomes current.
  sheet->items()->setFocus();
  sheet->items()->setCurrentItem(sheet->items()->topLevelItem(0));
  QTest::keyClick(sheet->items(), Qt::Key_Delete);
  EXPECT_FALSE(marks().isMarked(idOf(*model, "photos")));
  EXPECT_EQ(sheet->items()->currentItem(), sheet->items()->topLevelItem(0));
  EXPECT_EQ(sheet->headline(), QStringLiteral("2 items · 6.0 kB"));
  EXPECT_EQ(sheet->note(),
            QStringLiteral("Also kept up to date at ") +
                QString::fromStdString((home.path() / ".local/share/tallyfox/delete-list.txt").string()));
  ASSERT_EQ(sheet->items()->topLevelItemCount(), 2);
  EXPECT_EQ(sheet->items()->topLevelItem(0)->text(0), QStringLiteral("/data/music/song.mp3"));

  // A row's button takes it off the list; "Show in Tallyfox" closes the sheet and goes there.
  auto* remove = qobject_cast<QToolButton*>(sheet->items()->itemWidget(sheet->items()->topLevelItem(1), 2));
  ASSERT_NE(remove, nullptr);
  EXPECT_EQ(remove->toolTip(), QStringLiteral("Remove from the list"));
  remove->click();
  ASSERT_TRUE(viewtests::waitFor([&] { return sheet->items()->topLevelItemCount() == 1; }));
  EXPECT_EQ(marks().markedOrder(), std::vector<tallyfox::NodeId>{idOf(*model, "song.mp3")});
  QMenu* menu = sheet->menuFor(0);
  QStringList titles;
  for (QAction* action : menu->actions()) titles << action->text();
  EXPECT_EQ(titles, (QStringList{"Reveal in File Manager", "Show in Tallyfox", "Copy Path"}));
  menu->actions().at(1)->trigger();
  EXPECT_TRUE(viewtests::waitFor([&] { return window->view()->deleteListDialog() == nullptr; }));
  EXPECT_FALSE(marks().showingDeleteList());
  EXPECT_EQ(nameOf(*model, model->current()), "music");
  EXPECT_EQ(nameOf(*model, model->selection()), "song.mp3");

  // Ctrl+Backspace moves the list; the row below says what came of it.
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(list, Qt::Key_Backspace, Qt::ControlModifier);
  tallyfox::TrashResultRow* result = window->view()->trashResultRow();
  ASSERT_TRUE(viewtests::waitFor([&] { return marks().trash().lastTrash().has_value(); }));
  EXPECT_EQ(result->text(), QStringLiteral("Moved 1 item to the Trash · 6.0 kB"));
  EXPECT_EQ(window->view()->deleteListBar()->text(), QString());
  ASSERT_TRUE(result->emptyButton()->isVisibleTo(result));

  // Emptying asks first; Cancel is the default, so Return does not delete by accident.
  QTest::mouseClick(result->emptyButton(), Qt::LeftButton);
  QMessageBox* box = nullptr;
  ASSERT_TRUE(viewtests::waitFor([&] { return (box = messageBox()) != nullptr; }));
  EXPECT_EQ(box->text(), QStringLiteral("Empty the Trash?"));
  EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("Cancel"));
  QAbstractButton* confirm = nullptr;
  for (QAbstractButton* button : box->buttons())
    if (button->text() == QStringLiteral("Empty Trash")) confirm = button;
  ASSERT_NE(confirm, nullptr);
  confirm->click();
  ASSERT_TRUE(viewtests::waitFor(
      [&] { return marks().trash().lastTrash() && marks().trash().lastTrash()->emptied; }));
  EXPECT_EQ(log->emptied, 1);
  EXPECT_EQ(result->text(), QStringLiteral("Trash emptied · 6.0 kB freed"));
  EXPECT_FALSE(result->emptyButton()->isVisibleTo(result));
  result->dismissButton()->click();
  EXPECT_FALSE(result->isVisibleTo(result->parentWidget()));
}

TEST_F(DeleteListView, TheResultRowOffersToDeleteWhatTheTrashRefusedAndAsksFirst) {
  // This time the snapshot's folder is on disk, so that the Trash is asked and can refuse.
  const fs::path disk = dir.path() / "disk";
  for (const char* name : {"photos/a.jpg", "music/song.mp3", "readme.txt"})
    testsupport::writeFile(disk / name, "x");
  const auto file = viewtests::writeSnapshot(dir / "disk.tfsnap",
                                             {{-1, "disk"},
                                              {0, "photos"},
                                              {0, "music"},
                                              {0, "readme.txt", 10},
                                              {1, "a.jpg", 9000},
                                              {2, "song.mp3", 6000}},
                                             disk.string());
  window = viewtests::openBrowser(file, viewtests::recordingDesktop(log));
  model = window->browser();
  const QByteArray music = QByteArray::fromStdString((disk / "music").string());
  log->trashFails << music;
  marks().toggleMark(idOf(*model, "music"));
  marks().trash().requestTrash();
  ASSERT_TRUE(viewtests::waitFor([&] { return marks().trash().lastTrash().has_value(); }));
  tallyfox::TrashResultRow* result = window->view()->trashResultRow();
  EXPECT_EQ(result->failuresText(), QStringLiteral("1 couldn't be moved"));
  EXPECT_EQ(result->failuresTooltip(), QStringLiteral("music: Permission denied"));
  ASSERT_TRUE(result->deleteButton()->isVisibleTo(result));
  EXPECT_EQ(result->deleteButton()->text(), QStringLiteral("Delete Permanently…"));

  // It asks, naming what and how much, with Cancel as the default; nothing goes before.
  QTest::mouseClick(result->deleteButton(), Qt::LeftButton);
  QMessageBox* box = nullptr;
  ASSERT_TRUE(viewtests::waitFor([&] { return (box = messageBox()) != nullptr; }));
  EXPECT_EQ(box->text(), QStringLiteral("Delete 1 item permanently?"));
  EXPECT_TRUE(box->informativeText().contains(QStringLiteral("(6.0 kB):\n• music: Permission denied")))
      << box->informativeText().toStdString();
  EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("Cancel"));
  EXPECT_TRUE(log->deleted.isEmpty());
  QAbstractButton* confirm = nullptr;
  for (QAbstractButton* button : box->buttons())
    if (button->text() == QStringLiteral("Delete Permanently")) confirm = button;
  ASSERT_NE(confirm, nullptr);
  confirm->click();
  ASSERT_TRUE(viewtests::waitFor(
      [&] { return marks().trash().lastTrash() && marks().trash().lastTrash()->permanent; }));
  EXPECT_EQ(log->deleted, QByteArrayList{music});
  EXPECT_EQ(result->text(), QStringLiteral("Deleted 1 item permanently · 6.0 kB"));
  EXPECT_FALSE(result->deleteButton()->isVisibleTo(result));
  EXPECT_EQ(model->overlay().size(tallyfox::DiskTree::root, *model->tree()), 9010u);
}

}  // namespace
