#include "ViewTestSupport.h"

#include "ChangingFile.h"

#include "model/Comparison.h"
#include "model/OutsideModel.h"
#include "views/Breadcrumbs.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/CompareBar.h"
#include "views/EntryList.h"
#include "views/FilterField.h"
#include "views/Preview.h"
#include "views/RelativeDate.h"
#include "views/RowListModel.h"
#include "views/ShortcutSheet.h"
#include "views/StatusLine.h"
#include "views/SunburstView.h"
#include "views/TitleSwitcher.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/TreeColumns.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

using testsupport::Node;
using viewtests::idOf;
using viewtests::listedNames;
using viewtests::nameOf;
using Names = std::vector<std::string>;

// photos (9000) > music (6000) > My Photo Library (2000) > readme.txt (10) > empty (0)
std::vector<Node> library(std::uint8_t readmeFlags = 0) {
  return {
      {-1, "data"},
      {0, "photos"},
      {0, "music"},
      {0, "My Photo Library"},
      {0, "readme.txt", 10, readmeFlags},
      {0, "empty", 0, tallyfox::EntryFlags::directory},
      {1, "2023"},
      {1, "cover.jpg", 1000},
      {2, "song.mp3", 6000},
      {3, "lib.db", 2000},
      {6, "a.raw", 5000},
      {6, "b.raw", 3000},
  };
}

class BrowserWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = viewtests::writeSnapshot(dir / "library.tfsnap", library());
    window = viewtests::openBrowser(file, viewtests::recordingDesktop(log));
    ASSERT_TRUE(window->browser()->state().isReady());
    model = window->browser();
    list = window->view()->list();
  }

  void activate() {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  std::string selected() const { return nameOf(*model, model->selection()); }
  std::string current() const { return nameOf(*model, model->current()); }
  void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(list, Qt::Key(k), m); }
  void type(char c) { QTest::keyClick(list, c); }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::shared_ptr<viewtests::DesktopLog> log = std::make_shared<viewtests::DesktopLog>();
  std::filesystem::path file;
  std::unique_ptr<tallyfox::BrowserWindow> window;
  tallyfox::BrowserModel* model = nullptr;
  tallyfox::EntryList* list = nullptr;
};

TEST_F(BrowserWindowTest, KeysMoveTheSelectionAndEnterAndLeaveFolders) {
  EXPECT_EQ(current(), "(root)");
  EXPECT_EQ(selected(), "photos");
  EXPECT_EQ(listedNames(*window), (Names{"photos", "music", "My Photo Library", "readme.txt", "empty"}));

  key(Qt::Key_Down);
  EXPECT_EQ(selected(), "music");
  type('j');
  EXPECT_EQ(selected(), "My Photo Library");
  type('k');
  key(Qt::Key_Up);
  EXPECT_EQ(selected(), "photos");
  key(Qt::Key_End);
  EXPECT_EQ(selected(), "empty");
  type('g');
  EXPECT_EQ(selected(), "photos");
  type('G');
  EXPECT_EQ(selected(), "empty");
  key(Qt::Key_Home);

  key(Qt::Key_Return);
  EXPECT_EQ(current(), "photos");
  EXPECT_EQ(selected(), "2023");
  EXPECT_EQ(listedNames(*window), (Names{"2023", "cover.jpg"}));
  EXPECT_EQ(window->windowTitle().section(QStringLiteral(" — "), 0, 0), QStringLiteral("photos"));

  // Right expands in place, then steps into the expanded folder; Left walks back out.
  key(Qt::Key_Right);
  EXPECT_EQ(listedNames(*window), (Names{"2023", "  a.raw", "  b.raw", "cover.jpg"}));
  key(Qt::Key_Right);
  EXPECT_EQ(selected(), "a.raw");
  key(Qt::Key_Left);
  EXPECT_EQ(selected(), "2023");
  key(Qt::Key_Left);
  EXPECT_EQ(listedNames(*window), (Names{"2023", "cover.jpg"}));
  key(Qt::Key_Left);
  EXPECT_EQ(current(), "(root)");
  EXPECT_EQ(selected(), "photos");

  type('l');
  EXPECT_EQ(current(), "photos");
  type('h');
  EXPECT_EQ(current(), "(root)");
  // Above the root lies the folder around it, shown from the disk in the list's place: the
  // list's keys wait until the window is back inside.
  key(Qt::Key_Escape);
  EXPECT_EQ(current(), "(root)");
  ASSERT_TRUE(model->outside().isShown());
  QTest::keyClick(window.get(), Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(current(), "(root)");
  EXPECT_TRUE(model->outside().isShown());
  model->outside().backInside();
  list->setFocus();

  key(Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(current(), "photos");
  key(Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(current(), "(root)");

  type('J');
  EXPECT_EQ(selected(), "empty");
  type('K');
  EXPECT_EQ(selected(), "photos");
  key(Qt::Key_Return);
  type('~');
  EXPECT_EQ(current(), "(root)");
  EXPECT_EQ(selected(), "photos");
}

TEST_F(BrowserWindowTest, MenuShortcutsGoBackAndForward) {
  activate();
  key(Qt::Key_Return);
  key(Qt::Key_Return);
  ASSERT_EQ(current(), "2023");
  QTest::keyClick(window.get(), Qt::Key_BracketLeft, Qt::ControlModifier);
  EXPECT_EQ(current(), "photos");
  QTest::keyClick(window.get(), Qt::Key_Left, Qt::AltModifier);
  EXPECT_EQ(current(), "(root)");
  QTest::keyClick(window.get(), Qt::Key_BracketRight, Qt::ControlModifier);
  EXPECT_EQ(current(), "photos");
  QTest::keyClick(window.get(), Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(current(), "2023");
}

TEST_F(BrowserWindowTest, FilterFieldKeys) {
  activate();
  tallyfox::FilterField* field = window->view()->filterField();
  EXPECT_FALSE(field->isVisible());

  type('/');
  ASSERT_TRUE(field->isVisible());
  EXPECT_TRUE(field->hasFocus());
  QTest::keyClicks(field, "PHOTO");
  EXPECT_EQ(model->filter(), QStringLiteral("PHOTO"));
  EXPECT_EQ(listedNames(*window), (Names{"photos", "My Photo Library"}));

  // Down: into the list, the field stays.
  key(Qt::Key_End);
  QTest::keyClick(field, Qt::Key_Down);
  EXPECT_EQ(selected(), "photos");
  EXPECT_TRUE(list->hasFocus());
  EXPECT_TRUE(field->isVisible());

  // "/" again brings the keys back to the open field; Return keeps the filter but closes it.
  type('/');
  EXPECT_TRUE(field->hasFocus());
  QTest::keyClick(field, Qt::Key_Down);
  type('j');
  EXPECT_EQ(selected(), "My Photo Library");
  type('/');
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_FALSE(field->isVisible());
  EXPECT_TRUE(list->hasFocus());
  EXPECT_EQ(selected(), "photos");
  EXPECT_EQ(model->filter(), QStringLiteral("PHOTO"));
  EXPECT_EQ(listedNames(*window).size(), 2u);

  // Escape clears it.
  type('/');
  EXPECT_EQ(field->text(), QStringLiteral("PHOTO"));
  QTest::keyClick(field, Qt::Key_Escape);
  EXPECT_FALSE(field->isVisible());
  EXPECT_TRUE(model->filter().isEmpty());
  EXPECT_EQ(listedNames(*window).size(), 5u);
  EXPECT_TRUE(list->hasFocus());
}

TEST_F(BrowserWindowTest, EmptyAndNoMatches) {
  type('/');
  QTest::keyClicks(window->view()->filterField(), "   ");
  EXPECT_EQ(listedNames(*window).size(), 5u);
  EXPECT_EQ(list->placeholderText(), QString());
  QTest::keyClicks(window->view()->filterField(), "zzz");
  EXPECT_TRUE(listedNames(*window).empty());
  EXPECT_EQ(list->placeholderText(), QStringLiteral("No matches"));
  QTest::keyClick(window->view()->filterField(), Qt::Key_Escape);

  model->navigate(idOf(*model, "empty"));
  EXPECT_EQ(current(), "empty");
  EXPECT_EQ(list->placeholderText(), QStringLiteral("Empty"));
  // Moves on an empty list clear the selection rather than fail.
  key(Qt::Key_Down);
  EXPECT_EQ(selected(), "(none)");
}

TEST_F(BrowserWindowTest, SelectionIsScrolledIntoView) {
  std::vector<Node> many{{-1, "many"}};
  for (int i = 0; i < 400; ++i) many.push_back({0, "file" + std::to_string(i), std::uint64_t(100000 - i)});
  auto big = viewtests::openBrowser(viewtests::writeSnapshot(dir / "many.tfsnap", many));
  auto* bigList = big->view()->list();
  const auto visible = [&](int row) {
    return bigList->viewport()->rect().contains(bigList->visualRect(bigList->rows()->index(row)));
  };
  EXPECT_TRUE(visible(0));
  EXPECT_FALSE(visible(399));
  QTest::keyClick(bigList, Qt::Key_End);
  EXPECT_TRUE(visible(399));
  QTest::keyClick(bigList, Qt::Key_PageUp);
  EXPECT_TRUE(visible(384));
  QTest::keyClick(bigList, Qt::Key_Home);
  EXPECT_TRUE(visible(0));
}

TEST_F(BrowserWindowTest, BreadcrumbClicks) {
  tallyfox::Breadcrumbs* crumbs = window->view()->breadcrumbs();
  const tallyfox::NodeId photos = idOf(*model, "photos"), year = idOf(*model, "2023");
  model->navigate(year);
  QCoreApplication::processEvents();
  ASSERT_EQ(crumbs->crumbs(), (std::vector<tallyfox::NodeId>{0, photos, year}));

  // The grandparent's crumb shows it with the way back down selected.
  QTest::mouseClick(crumbs, Qt::LeftButton, {}, crumbs->crumbRect(0).center());
  EXPECT_EQ(current(), "(root)");
  EXPECT_EQ(selected(), "photos");

  model->navigate(year);
  QTest::mouseClick(crumbs, Qt::LeftButton, {}, crumbs->crumbRect(photos).center());
  EXPECT_EQ(current(), "photos");
  EXPECT_EQ(selected(), "2023");

  // The current folder's own crumb keeps the selection.
  key(Qt::Key_Down);
  QTest::mouseClick(crumbs, Qt::LeftButton, {}, crumbs->crumbRect(photos).center());
  EXPECT_EQ(current(), "photos");
  EXPECT_EQ(selected(), "cover.jpg");
}

TEST_F(BrowserWindowTest, MouseOnTheList) {
  const auto rowCenter = [&](const std::string& name) { return list->rowRect(idOf(*model, name)).center(); };
  // A file is selected in place; a folder is entered.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCenter("readme.txt"));
  EXPECT_EQ(current(), "(root)");
  EXPECT_EQ(selected(), "readme.txt");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCenter("music"));
  EXPECT_EQ(current(), "music");
  EXPECT_EQ(selected(), "song.mp3");
  model->goUp();

  // The chevron expands without entering.
  const QRect photosRow = list->rowRect(idOf(*model, "photos"));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    QPoint(photosRow.left() + 15, photosRow.center().y()));
  EXPECT_EQ(current(), "(root)");
  EXPECT_EQ(listedNames(*window).size(), 7u);
  model->toggleExpanded(idOf(*model, "photos"));

  // A double click enters once; its second half does not go on into the new folder. Sent
  // through the window, as the window system delivers it: two presses, then the double click.
  const QPoint inWindow = list->viewport()->mapTo(window.get(), rowCenter("photos"));
  QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {}, inWindow);
  EXPECT_EQ(current(), "photos");
  EXPECT_EQ(selected(), "2023");
}

TEST_F(BrowserWindowTest, DoubleClickOpensOnlyTheFileBothPressesHit) {
  // A folder listed first whose largest entry is a file: after the first press enters it,
  // that file lies under the pointer and is selected.
  const auto home = dir / "home";
  testsupport::writeFile(home / "music" / "song.mp3", "la");
  testsupport::writeFile(home / "notes.txt", "n");
  auto log2 = std::make_shared<viewtests::DesktopLog>();
  auto music = viewtests::openBrowser(
      viewtests::writeSnapshot(dir / "music.tfsnap",
                               {{-1, "home"}, {0, "music"}, {0, "notes.txt", 10}, {1, "song.mp3", 6000}},
                               home.string()),
      viewtests::recordingDesktop(log2));
  tallyfox::BrowserModel* m = music->browser();
  tallyfox::EntryList* l = music->view()->list();
  const QPoint onFirstRow = l->viewport()->mapTo(music.get(), l->rowRect(idOf(*m, "music")).center());
  QTest::mouseDClick(music->windowHandle(), Qt::LeftButton, {}, onFirstRow);
  EXPECT_EQ(nameOf(*m, m->current()), "music");
  EXPECT_EQ(l->rowRect(idOf(*m, "song.mp3")).center(), l->viewport()->mapFrom(music.get(), onFirstRow));
  EXPECT_TRUE(log2->opened.isEmpty()) << log2->opened.join(' ').toStdString();
  EXPECT_EQ(log2->beeps, 0);

  QTest::mouseDClick(music->windowHandle(), Qt::LeftButton, {}, onFirstRow);
  EXPECT_EQ(log2->opened, QByteArrayList{QByteArray::fromStdString((home / "music" / "song.mp3").string())});
}

TEST_F(BrowserWindowTest, TitleAndStatusLine) {
  const QString title = window->windowTitle();
  EXPECT_TRUE(title.startsWith(QStringLiteral("data — Snapshot from "))) << title.toStdString();
  tallyfox::StatusLine* status = window->view()->statusLine();
  EXPECT_EQ(status->pathText(), QStringLiteral("/data/photos"));
  EXPECT_EQ(status->entriesText(), QStringLiteral("11 entries"));
  // "3 hours ago" but for the first hours after midnight.
  const std::chrono::system_clock::time_point scanned =
      tallyfox::SnapshotFile::readInfo(file)->info.scanStart;
  EXPECT_EQ(status->scannedText(),
            QStringLiteral("scanned ") + tallyfox::relativeDate(scanned, std::chrono::system_clock::now()));
  EXPECT_EQ(status->unreadableText(), QString());
  key(Qt::Key_Down);
  EXPECT_EQ(status->pathText(), QStringLiteral("/data/music"));

  auto withError = viewtests::openBrowser(
      viewtests::writeSnapshot(dir / "error.tfsnap", library(tallyfox::EntryFlags::error)));
  // Counted by the loading task once the window is open.
  ASSERT_TRUE(viewtests::waitFor([&] { return withError->browser()->health().has_value(); }));
  EXPECT_EQ(withError->view()->statusLine()->unreadableText(), QStringLiteral("1 unreadable"));
  EXPECT_EQ(withError->view()->statusLine()->damageText(), QString());
}

// Without a selected path the line's items stay together at its right end, where they stand
// beside a path, instead of spreading over the whole width.
TEST_F(BrowserWindowTest, StatusLineItemsStayTogetherWithoutASelection) {
  tallyfox::StatusLine* status = window->view()->statusLine();
  const auto label = [&](const QString& text) {
    for (QLabel* l : status->findChildren<QLabel*>())
      if (l->text() == text) return l;
    ADD_FAILURE() << text.toStdString();
    return static_cast<QLabel*>(nullptr);
  };
  QLabel* entries = label(status->entriesText());
  QLabel* scanned = label(status->scannedText());
  QLabel* keys = label(QStringLiteral("? for keys"));
  ASSERT_TRUE(entries && scanned && keys);
  const auto placed = [&] {
    QCoreApplication::processEvents();
    return std::vector<int>{entries->geometry().left(), scanned->geometry().left(), keys->geometry().left()};
  };
  const std::vector<int> withPath = placed();
  model->setSelection(std::nullopt);
  EXPECT_EQ(status->pathText(), QString());
  EXPECT_EQ(placed(), withPath);
  EXPECT_LT(scanned->geometry().left() - entries->geometry().right(), 30);
}

TEST_F(BrowserWindowTest, DamagedSnapshotOpensAndSaysWhatIsWrong) {
  // "cover.jpg" has lost a byte that "photos" and the root still count.
  auto columns = testsupport::columnsOf(library());
  columns.size[7] -= 1;
  const auto damaged = dir / "damaged.tfsnap";
  tallyfox::SnapshotFile::write(columns, {"/data", std::chrono::system_clock::now(), 1.0}, damaged);
  auto window = viewtests::openBrowser(damaged);
  ASSERT_TRUE(window->browser()->state().isReady()) << "a damaged file is shown, not refused";
  ASSERT_TRUE(viewtests::waitFor([&] { return window->browser()->health().has_value(); }));
  const QString text = window->view()->statusLine()->damageText();
  EXPECT_TRUE(text.startsWith(QStringLiteral("This snapshot is damaged: "))) << text.toStdString();
  EXPECT_GT(text.size(), QStringLiteral("This snapshot is damaged: ").size());
  EXPECT_EQ(viewtests::listedNames(*window).front(), "photos");
}

TEST_F(BrowserWindowTest, FileChangedWhileOpenIsSaidInTheStatusLineAndTheWindowGoesOn) {
  activate();
  ASSERT_TRUE(viewtests::waitFor([&] { return model->health().has_value(); }));
  testsupport::cutShortElsewhere(file, tallyfox::SnapshotFile::headerSize);
  // Moves read the names past the cut.
  key(Qt::Key_Return);
  key(Qt::Key_Down);
  ASSERT_TRUE(viewtests::waitFor([&] { return model->health() && model->health()->fileChanged; }));
  EXPECT_EQ(
      window->view()->statusLine()->damageText(),
      QStringLiteral("The snapshot file changed while it was read: open it again to see it as it is now."));
  EXPECT_TRUE(window->view()->isShowingBrowser());
  key(Qt::Key_Left);
  key(Qt::Key_End);
  EXPECT_TRUE(model->state().isReady());
}

TEST_F(BrowserWindowTest, FileThatCannotBeReadShowsWhy) {
  testsupport::writeFile(dir / "broken.tfsnap", std::string("TFSNAP\0\0", 8) + "not really");
  auto broken = viewtests::openBrowser(dir / "broken.tfsnap");
  EXPECT_TRUE(broken->browser()->state().isFailed());
  EXPECT_FALSE(broken->view()->isShowingBrowser());
  EXPECT_EQ(broken->view()->failureTitle(), QStringLiteral("Couldn't open snapshot"));
  EXPECT_FALSE(broken->view()->failureMessage().isEmpty());
  EXPECT_EQ(broken->windowTitle(), QStringLiteral("broken.tfsnap"));
}

TEST_F(BrowserWindowTest, ShortcutSheetOpensAndCloses) {
  activate();
  type('?');
  tallyfox::ShortcutSheet* sheet = window->view()->shortcutSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Keyboard"));
  QStringList texts;
  for (auto* label : sheet->findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains(QStringLiteral("Ctrl+[  or  Alt+Left"))) << texts.join('|').toStdString();
  // Only what works is offered: nothing of features still to come.
  EXPECT_TRUE(texts.contains(QStringLiteral("R  /  Ctrl+Shift+R")));
  for (const char* unbuilt : {"drag"})
    EXPECT_FALSE(texts.join('\n').contains(QLatin1String(unbuilt), Qt::CaseInsensitive)) << unbuilt;
  QAbstractButton* done = sheet->findChild<QDialogButtonBox*>()->buttons().front();
  EXPECT_EQ(done->text(), QStringLiteral("Done"));
  // The sheet takes the keys while it shows: the list behind does not move.
  const std::string before = selected();
  QTest::keyClick(QApplication::focusWidget(), 'j');
  EXPECT_EQ(selected(), before);
  QTest::mouseClick(done, Qt::LeftButton);
  EXPECT_FALSE(model->showHelp());
  EXPECT_TRUE(viewtests::waitFor([&] { return window->view()->shortcutSheet() == nullptr; }));

  // Escape and "?" close it too, and the list has the keys again.
  for (const auto key : {Qt::Key_Escape, Qt::Key_Question}) {
    type('?');
    ASSERT_TRUE(model->showHelp());
    QTest::keyClick(QApplication::focusWidget(), key,
                    key == Qt::Key_Question ? Qt::ShiftModifier : Qt::NoModifier);
    EXPECT_FALSE(model->showHelp()) << key;
    EXPECT_TRUE(viewtests::waitFor([&] { return window->view()->shortcutSheet() == nullptr; }));
    EXPECT_TRUE(list->hasFocus());
  }
}

TEST_F(BrowserWindowTest, CommandsFollowTheSelectionInKeysAndMenus) {
  QAction* enterFolder = nullptr;
  for (QAction* action : window->menuBar()->findChildren<QAction*>())
    if (action->text() == QStringLiteral("Enter Folder")) enterFolder = action;
  ASSERT_NE(enterFolder, nullptr);
  EXPECT_TRUE(enterFolder->isEnabled());  // the first row is selected on opening

  model->setSelection(std::nullopt);
  EXPECT_FALSE(enterFolder->isEnabled());
  type('r');
  type('c');
  EXPECT_TRUE(log->revealed.isEmpty());
  EXPECT_TRUE(log->copiedTexts.isEmpty());

  model->setSelection(idOf(*model, "photos"));
  EXPECT_TRUE(enterFolder->isEnabled());
  enterFolder->trigger();
  EXPECT_EQ(current(), "photos");
  // Keys the table does not know go on to the window.
  QKeyEvent unknown(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
  EXPECT_FALSE(list->handleKey(&unknown));
}

TEST_F(BrowserWindowTest, FeatureViewsTakeTheCentreAndBarsKeepTheirPlaces) {
  tallyfox::BrowserView* view = window->view();
  auto* outside = new QLabel(QStringLiteral("outside"));
  view->showCentre(outside);
  EXPECT_TRUE(outside->isVisible());
  EXPECT_FALSE(view->chart()->isVisible());
  view->showChartAndList();
  EXPECT_TRUE(view->chart()->isVisible());
  EXPECT_FALSE(outside->isVisible());

  // Added bottom first: the slots, not the order of adding, decide where a bar goes.
  auto* result = new QLabel(QStringLiteral("result"));
  auto* progress = new QLabel(QStringLiteral("progress"));
  view->addBar(tallyfox::BrowserView::BarSlot::result, result);
  view->addBar(tallyfox::BrowserView::BarSlot::scanProgress, progress);
  const auto top = [&](QWidget* w) { return w->mapTo(window.get(), QPoint()).y(); };
  const auto left = [&](QWidget* w) { return w->mapTo(window.get(), QPoint()).x(); };
  ASSERT_TRUE(viewtests::waitFor([&] { return progress->isVisible() && result->isVisible(); }));
  // In the list column, below the list.
  EXPECT_TRUE(viewtests::waitFor([&] {
    return top(view->list()) < top(progress) && top(progress) < top(result) &&
           top(result) < top(view->statusLine()) && left(progress) > left(view->chart());
  }));
}

TEST_F(BrowserWindowTest, ComparingShowsChangesTheBarOrItsErrorAndWhatIsGone) {
  // Two days ago readme.txt was called old.txt and a.raw was smaller.
  std::vector<Node> earlier = library();
  for (Node& node : earlier) {
    if (node.name == "readme.txt") node.name = "old.txt";
    if (node.name == "a.raw") node.size = 1000;
  }
  const auto earlierFile = dir / "earlier.tfsnap";
  tallyfox::SnapshotFile::write(testsupport::columnsOf(earlier),
                                {"/data", std::chrono::system_clock::now() - std::chrono::hours(48), 1.0},
                                earlierFile);
  auto* bar = window->view()->findChild<tallyfox::CompareBar*>();
  auto* gone = window->view()->findChild<tallyfox::GoneSection*>();
  ASSERT_TRUE(bar && gone);
  EXPECT_FALSE(bar->isVisible());

  model->comparing().compare(dir / "missing.tfsnap");
  ASSERT_TRUE(viewtests::waitFor([&] { return bar->isVisible(); }));
  EXPECT_FALSE(bar->errorText().isEmpty());
  EXPECT_TRUE(bar->text().isEmpty());

  model->comparing().compare(earlierFile);
  ASSERT_TRUE(viewtests::waitFor([&] { return model->comparing().comparison() != nullptr; }));
  EXPECT_TRUE(bar->text().startsWith(QStringLiteral("Changes since ")));
  EXPECT_TRUE(bar->errorText().isEmpty());  // the bar takes the error line's place
  EXPECT_TRUE(bar->changeText().contains(QStringLiteral("+4.0 kB")));
  EXPECT_EQ(listedNames(*window), (Names{"photos", "readme.txt"}));
  EXPECT_EQ(gone->names(), QStringList{QStringLiteral("old.txt")});
  EXPECT_TRUE(gone->isVisible());
  EXPECT_TRUE(viewtests::waitFor([&] {
    const auto layout = window->view()->chart()->layout();
    return layout && layout->comparing == model->comparing().comparison()->id();
  }));

  // Stop: sizes again, and neither the bar nor the gone section.
  QPushButton* stop = nullptr;
  for (auto* button : bar->findChildren<QPushButton*>())
    if (button->text() == QStringLiteral("Stop")) stop = button;
  ASSERT_NE(stop, nullptr);
  QTest::mouseClick(stop, Qt::LeftButton);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_FALSE(gone->isVisible());
  EXPECT_EQ(listedNames(*window).size(), 5u);
  EXPECT_TRUE(viewtests::waitFor([&] { return window->view()->chart()->layout()->comparing == 0; }));
}

TEST_F(BrowserWindowTest, FileKeysReachTheDesktop) {
  // A snapshot of a real folder, so that the files are there to preview and reveal.
  testsupport::writeFile(dir / "real" / "notes.txt", "first line\nsecond line\n");
  auto real = viewtests::openBrowser(
      viewtests::writeSnapshot(dir / "real.tfsnap",
                               {{-1, "real"}, {0, "notes.txt", 4096}, {0, "gone.bin", 10}},
                               (dir / "real").string()),
      viewtests::recordingDesktop(log));
  tallyfox::EntryList* realList = real->view()->list();
  const QString notes = QString::fromStdString((dir / "real" / "notes.txt").string());
  ASSERT_EQ(real->browser()->selectedPath(), notes);

  QTest::keyClick(realList, ' ');
  tallyfox::PreviewWindow* preview = real->view()->preview()->window();
  ASSERT_NE(preview, nullptr);
  EXPECT_TRUE(preview->isVisible());
  ASSERT_TRUE(viewtests::waitFor([&] { return !preview->kind().isEmpty(); }));
  EXPECT_EQ(preview->kind(), QStringLiteral("text"));
  EXPECT_EQ(preview->path(), notes.toUtf8());
  // Space closes it again, from the list or from the preview itself.
  QTest::keyClick(realList, ' ');
  EXPECT_FALSE(preview->isVisible());
  EXPECT_TRUE(real->browser()->previewURL().isEmpty());
  QTest::keyClick(realList, ' ');
  EXPECT_TRUE(preview->isVisible());
  QTest::keyClick(preview, ' ');
  EXPECT_FALSE(preview->isVisible());
  EXPECT_TRUE(real->browser()->previewURL().isEmpty());
  // Closed by the window manager: the next Space opens a new preview at once.
  QTest::keyClick(realList, ' ');
  preview->close();
  EXPECT_TRUE(real->browser()->previewURL().isEmpty());
  QTest::keyClick(realList, ' ');
  EXPECT_TRUE(preview->isVisible());
  QTest::keyClick(realList, ' ');

  QTest::keyClick(realList, 'r');
  QTest::keyClick(realList, 'c');
  QTest::keyClick(realList, 'C', Qt::ControlModifier);
  EXPECT_EQ(log->revealed, QByteArrayList{notes.toUtf8()});
  EXPECT_EQ(log->copiedTexts, QStringList{notes});
  EXPECT_EQ(log->copiedReferences, QByteArrayList{notes.toUtf8()});

  // Nothing on disk to preview: a beep, no window.
  QTest::keyClick(realList, Qt::Key_Down);
  QTest::keyClick(realList, ' ');
  EXPECT_EQ(log->beeps, 1);
  EXPECT_FALSE(preview->isVisible());
}

}  // namespace

namespace {

TEST(TitleSwitcherTest, ListsRecentSnapshotsWithTheWindowsOwnChecked) {
  testsupport::ScopedHome home;
  const std::filesystem::path folder = tallyfox::SnapshotsFolder::ofUser(tallyfox::Preferences::standard());
  std::filesystem::create_directories(folder);
  const auto own = viewtests::writeSnapshot(folder / "own.tfsnap", {{-1, "data"}, {0, "x", 10}}, "/srv/own");
  viewtests::writeSnapshot(folder / "other.tfsnap", {{-1, "data"}, {0, "y", 10}}, "/srv/other");
  auto window = viewtests::openBrowser(own);
  auto* switcher = window->view()->findChild<tallyfox::TitleSwitcher*>();
  ASSERT_NE(switcher, nullptr);
  EXPECT_EQ(switcher->toolTip(), QStringLiteral("Switch to another snapshot"));
  QMenu menu;
  switcher->fillMenu(menu);
  QStringList texts, checked;
  for (const QAction* action : menu.actions()) {
    if (action->isSeparator() && action->text().isEmpty()) continue;
    texts << action->text();
    if (action->isChecked()) checked << action->text();
  }
  // A day's heading, both snapshots, then the window's own commands and the hint.
  ASSERT_EQ(texts.size(), 6) << texts.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(texts[0], QStringLiteral("Today"));
  EXPECT_EQ(texts.mid(3),
            (QStringList{QStringLiteral("New Scan…"), QStringLiteral("Show Snapshot in File Manager"),
                         QStringLiteral("Alt-click to open in a new window")}));
  ASSERT_EQ(checked.size(), 1);
  EXPECT_TRUE(checked[0].startsWith(QStringLiteral("own  "))) << checked[0].toStdString();
  EXPECT_FALSE(menu.actions().back()->isEnabled());

  QSignalSpy newScan(window->browser(), &tallyfox::BrowserModel::newScanRequested);
  for (QAction* action : menu.actions())
    if (action->text() == QStringLiteral("New Scan…")) action->trigger();
  EXPECT_EQ(newScan.count(), 1);
}

}  // namespace
