#include "ViewTestSupport.h"

#include "model/AgeFilter.h"
#include "model/AppUpdater.h"
#include "model/BrowserCommands.h"
#include "model/Comparison.h"
#include "model/CountMode.h"
#include "model/DeleteList.h"
#include "model/DocumentController.h"
#include "model/Duplicates.h"
#include "model/FileTypes.h"
#include "model/FolderHistory.h"
#include "model/LargestFiles.h"
#include "model/OutsideModel.h"
#include "model/PartialScans.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "model/TrashWork.h"
#include "shell/AppDelegate.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/ShortcutSheet.h"
#include "views/WelcomeWindow.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;
using tallyfox::BrowserCommand;
using tallyfox::BrowserModel;
using tallyfox::BrowserWindow;

// Every item of a menu bar, submenus included, by its text (separators left out).
std::vector<QAction*> leafItems(QMenu* menu) {
  std::vector<QAction*> all;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    all.push_back(action);
    // What Open Recent lists depends on the person's history, not on the window.
    if (action->menu() && action->text() != QStringLiteral("Open Recent"))
      for (QAction* inner : leafItems(action->menu())) all.push_back(inner);
  }
  return all;
}

std::vector<QAction*> leafItems(QMainWindow* window) {
  std::vector<QAction*> all;
  for (QAction* menu : window->menuBar()->actions())
    for (QAction* item : leafItems(menu->menu())) all.push_back(item);
  return all;
}

QMenu* menuNamed(QMainWindow* window, const QString& title) {
  for (QAction* menu : window->menuBar()->actions())
    if (menu->text() == title) return menu->menu();
  return nullptr;
}

// A menu's items as their titles, with "-" for a separator.
QStringList titlesOf(QMenu* menu) {
  QStringList titles;
  for (QAction* action : menu->actions())
    titles << (action->isSeparator() ? QStringLiteral("-") : action->text());
  return titles;
}

QAction* actionFor(QMainWindow* window, const BrowserCommand& command) {
  return window->menuBar()->findChild<QAction*>(command.id);
}

// A snapshot of a real folder, so that what the commands open, preview and reveal is there:
// photos (9000) > music (6000) > notes.txt (4096).
struct Library {
  explicit Library(const fs::path& dir) : root(dir / "library") {
    for (const char* name : {"photos/2023/a.raw", "photos/cover.jpg", "music/song.mp3"})
      testsupport::writeFile(root / name, "x");
    testsupport::writeFile(root / "notes.txt", "first line\n");
    file = viewtests::writeSnapshot(dir / "library.tfsnap",
                                    {{-1, "library"},
                                     {0, "photos"},
                                     {0, "music"},
                                     {0, "notes.txt", 4096},
                                     {1, "2023"},
                                     {1, "cover.jpg", 1000},
                                     {2, "song.mp3", 6000},
                                     {4, "a.raw", 8000}},
                                    root.string());
  }
  fs::path root;
  fs::path file;
};

// One browser window with its own model, what it asked of the desktop and the questions it
// put to the person.
struct Window {
  explicit Window(const fs::path& file) {
    window = viewtests::openBrowser(file, viewtests::recordingDesktop(log));
    model = window->browser();
    QObject::connect(&model->requests(), &tallyfox::Requests::fileRequested, window.get(),
                     [this](const tallyfox::FileRequestPtr& r) { files.push_back(r); });
    QObject::connect(&model->requests(), &tallyfox::Requests::confirmationRequested, window.get(),
                     [this](const tallyfox::ConfirmationRequestPtr& r) { confirmations.push_back(r); });
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->view()->list()->setFocus();
  }
  ~Window() {
    // Requests dropped with the window answer as cancelled; the test keeps none alive.
    files.clear();
    confirmations.clear();
  }

  tallyfox::NodeId id(const std::string& name) const { return viewtests::idOf(*model, name); }
  std::string selected() const { return viewtests::nameOf(*model, model->selection()); }
  std::string current() const { return viewtests::nameOf(*model, model->current()); }
  QString path(const std::string& name) const { return *model->path(id(name)); }
  void enter(const std::string& name) { model->navigate(id(name)); }
  void select(const std::string& name) { model->setSelection(id(name)); }

  std::shared_ptr<viewtests::DesktopLog> log = std::make_shared<viewtests::DesktopLog>();
  std::unique_ptr<BrowserWindow> window;
  BrowserModel* model = nullptr;
  std::vector<tallyfox::FileRequestPtr> files;
  std::vector<tallyfox::ConfirmationRequestPtr> confirmations;
};

// What a command does, seen from outside: `prepare` brings a fresh window to where the
// command can act, `check` looks at what it did. `way` is how it was given: "menu", a key
// or a character, or a submenu item's title.
struct Expectation {
  std::function<void(Window&)> prepare;
  std::function<void(Window&, const QString& way)> check;
};

class MenuCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(snapshots); }

  // Compare with Previous and Compare With find this one in the snapshots folder.
  fs::path writeEarlier() {
    std::vector<testsupport::Node> nodes = {{-1, "library"}, {0, "photos"}, {1, "cover.jpg", 500}};
    const fs::path earlier = snapshots / "earlier.tfsnap";
    tallyfox::SnapshotFile::write(
        testsupport::columnsOf(nodes),
        {library.root.string(), viewtests::earlierToday() - std::chrono::hours(48), 1.0}, earlier);
    return earlier;
  }

  std::map<QString, Expectation> expectations();

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  Library library{dir.path()};
  tallyfox::Settings settings{tallyfox::Preferences::standard()};
  fs::path snapshots = settings.snapshotsFolder();
};

std::map<QString, Expectation> MenuCommandsTest::expectations() {
  const auto selects = [](std::string before, std::string after) {
    return Expectation{[before](Window& w) { w.select(before); },
                       [after](Window& w, const QString&) { EXPECT_EQ(w.selected(), after); }};
  };
  const auto entersPhotos = Expectation{[](Window& w) { w.select("photos"); },
                                        [](Window& w, const QString&) { EXPECT_EQ(w.current(), "photos"); }};
  const auto leavesPhotos = Expectation{[](Window& w) { w.enter("photos"); },
                                        [](Window& w, const QString&) { EXPECT_EQ(w.current(), "(root)"); }};
  const auto waitsForCandidates = [](Window& w) {
    ASSERT_TRUE(viewtests::waitFor([&] { return w.model->comparing().previousSnapshot().has_value(); }));
  };
  const fs::path earlier = writeEarlier();
  const auto comparesWithEarlier = [earlier](Window& w) {
    ASSERT_TRUE(viewtests::waitFor([&] { return w.model->comparing().comparison() != nullptr; }));
    EXPECT_EQ(w.model->comparing().comparison()->baselineURL(), earlier);
  };
  return {
      {"moveDown", selects("photos", "music")},
      {"moveUp", selects("music", "photos")},
      {"pageDown", selects("photos", "notes.txt")},
      {"pageUp", selects("notes.txt", "photos")},
      {"first", selects("music", "photos")},
      {"last", selects("photos", "notes.txt")},
      {"expand",
       {[](Window& w) { w.select("photos"); },
        [](Window& w, const QString&) { EXPECT_TRUE(w.model->expanded().contains(w.id("photos"))); }}},
      {"collapse",
       {[](Window& w) {
          w.select("photos");
          w.model->toggleExpanded(w.id("photos"));
        },
        [](Window& w, const QString&) { EXPECT_FALSE(w.model->expanded().contains(w.id("photos"))); }}},
      {"open", entersPhotos},
      {"up", leavesPhotos},
      {"enterFolder", entersPhotos},
      {"enclosingFolder", leavesPhotos},
      {"back", leavesPhotos},
      {"forward",
       {[](Window& w) {
          w.enter("photos");
          w.model->goBack();
        },
        [](Window& w, const QString&) { EXPECT_EQ(w.current(), "photos"); }}},
      {"top",
       {[](Window& w) { w.enter("2023"); },
        [](Window& w, const QString&) { EXPECT_EQ(w.current(), "(root)"); }}},
      {"filter",
       {{},
        [](Window& w, const QString&) {
          EXPECT_TRUE(w.model->isFiltering());
          EXPECT_TRUE(
              viewtests::waitFor([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); }));
        }}},
      {"preview",
       {[](Window& w) { w.select("notes.txt"); },
        [](Window& w, const QString&) {
          EXPECT_EQ(w.model->previewPath(), w.path("notes.txt").toUtf8());
          w.model->setPreviewURL({});
        }}},
      {"reveal",
       {[](Window& w) { w.select("music"); },
        [](Window& w, const QString&) {
          EXPECT_EQ(w.log->revealed, QByteArrayList{w.path("music").toUtf8()});
        }}},
      {"showSnapshotInFileManager",
       {{},
        [this](Window& w, const QString&) {
          EXPECT_EQ(w.log->revealed, QByteArrayList{QByteArray::fromStdString(library.file.string())});
        }}},
      {"copyPath",
       {[](Window& w) { w.select("music"); },
        [](Window& w, const QString&) {
          EXPECT_EQ(w.log->copiedTexts, QStringList{w.path("music")});
          EXPECT_TRUE(w.log->copiedReferences.isEmpty());  // plain text only
        }}},
      {"openFile",
       {[](Window& w) { w.select("notes.txt"); },
        [](Window& w, const QString&) {
          EXPECT_EQ(w.log->opened, QByteArrayList{w.path("notes.txt").toUtf8()});
        }}},
      {"copy",
       {[](Window& w) { w.select("music"); },
        [](Window& w, const QString&) {
          EXPECT_EQ(w.log->copiedReferences, QByteArrayList{w.path("music").toUtf8()});
        }}},
      {"toggleMark",
       {[](Window& w) { w.select("music"); },
        [](Window& w, const QString&) { EXPECT_TRUE(w.model->deleteList().isMarked(w.id("music"))); }}},
      {"showDeleteList",
       {[](Window& w) { w.model->deleteList().toggleMark(w.id("music")); },
        [](Window& w, const QString&) { EXPECT_TRUE(w.model->deleteList().showingDeleteList()); }}},
      {"moveToTrash",
       {[](Window& w) { w.select("music"); },
        [](Window& w, const QString&) {
          EXPECT_TRUE(viewtests::waitFor([&] { return !w.log->trashed.isEmpty(); }));
          EXPECT_EQ(w.log->trashed, QByteArrayList{w.path("music").toUtf8()});
        }}},
      {"deletePermanently",
       {[](Window& w) {
          // What the Trash refuses is offered; nothing goes before the answer.
          w.log->trashFails << w.path("music").toUtf8();
          w.model->deleteList().toggleMark(w.id("music"));
          w.model->deleteList().trash().trashMarked();
          ASSERT_TRUE(
              viewtests::waitFor([&] { return w.model->deleteList().trash().lastTrash().has_value(); }));
          w.confirmations.clear();
        },
        [](Window& w, const QString&) {
          ASSERT_EQ(w.confirmations.size(), 1u);
          EXPECT_EQ(w.confirmations.front()->title, QStringLiteral("Delete 1 item permanently?"));
          EXPECT_TRUE(w.log->deleted.isEmpty());
          w.confirmations.front()->answer(true);
          EXPECT_TRUE(viewtests::waitFor([&] { return !w.log->deleted.isEmpty(); }));
          EXPECT_EQ(w.log->deleted, QByteArrayList{w.path("music").toUtf8()});
        }}},
      {"emptyTrash",
       {{},
        [](Window& w, const QString&) {
          ASSERT_EQ(w.confirmations.size(), 1u);
          w.confirmations.front()->answer(true);
          EXPECT_TRUE(viewtests::waitFor([&] { return w.log->emptied == 1; }));
        }}},
      {"help", {{}, [](Window& w, const QString&) { EXPECT_TRUE(w.model->showHelp()); }}},
      {"saveSnapshotAs",
       {{},
        [this](Window& w, const QString&) {
          ASSERT_EQ(w.files.size(), 1u);
          EXPECT_EQ(w.files.front()->kind, tallyfox::FileRequest::Kind::save);
          const fs::path copy = dir / "copy.tfsnap";
          fs::remove(copy);
          w.files.front()->answer(copy);
          EXPECT_TRUE(viewtests::waitFor([&] { return fs::exists(copy); }));
        }}},
      {"rescan",
       {[](Window& w) { w.enter("photos"); },
        [this](Window& w, const QString&) {
          EXPECT_EQ(w.model->partialScans().addingScanPath(), (library.root / "photos").string());
          EXPECT_TRUE(viewtests::waitFor([&] { return !w.model->partialScans().isRunning(); }));
          EXPECT_EQ(w.model->partialScans().addingScanError(), std::nullopt);
          // The new snapshot would be the previous one of later windows.
          for (const auto& entry : fs::directory_iterator(snapshots))
            if (entry.path().filename().string().starts_with("library-")) fs::remove(entry.path());
        }}},
      {"history", {{}, [](Window& w, const QString&) { EXPECT_TRUE(w.model->folderHistory().isShown()); }}},
      {"countEntries",
       {{}, [](Window& w, const QString&) { EXPECT_TRUE(w.model->countMode().countsEntries()); }}},
      {"filterByAge",
       {{},
        [](Window& w, const QString& way) {
          const tallyfox::AgeFilter& age = tallyfox::AgeFilter::of(*w.model);
          if (way == QStringLiteral("Any Age")) {
            EXPECT_FALSE(age.isSet());
          } else if (way == QStringLiteral("Not Modified Since…")) {
            // The window asks for the day first.
            EXPECT_FALSE(age.isSet());
            EXPECT_NE(w.window->findChild<QCalendarWidget*>(), nullptr);
          } else {
            ASSERT_TRUE(age.isSet());
            EXPECT_EQ(age.label().toLower(), way.toLower());
          }
        }}},
      {"findDuplicates",
       {{}, [](Window& w, const QString&) { EXPECT_TRUE(w.model->duplicates().isOpen()); }}},
      {"largestFiles",
       {{}, [](Window& w, const QString&) { EXPECT_TRUE(w.model->largestFiles().isOpen()); }}},
      {"fileTypes", {{}, [](Window& w, const QString&) { EXPECT_TRUE(w.model->fileTypes().isOpen()); }}},
      {"clearFileType",
       {[](Window& w) {
          w.model->fileTypes().choose({tallyfox::SubtreeStats::Category::images, std::nullopt});
        },
        [](Window& w, const QString&) { EXPECT_FALSE(w.model->fileTypes().chosen()); }}},
      {"compareWithPrevious",
       {waitsForCandidates, [=](Window& w, const QString&) { comparesWithEarlier(w); }}},
      {"compareWith",
       {waitsForCandidates,
        [=](Window& w, const QString& way) {
          if (way != QStringLiteral("Other Snapshot…")) return comparesWithEarlier(w);
          ASSERT_EQ(w.files.size(), 1u);
          EXPECT_EQ(w.files.front()->kind, tallyfox::FileRequest::Kind::open);
        }}},
      {"stopComparing",
       {[=](Window& w) {
          w.model->comparing().compare(earlier);
          comparesWithEarlier(w);
        },
        [](Window& w, const QString&) { EXPECT_EQ(w.model->comparing().comparison(), nullptr); }}},
  };
}

// Each command of the table, on a fresh window each time, from its menu item, from each of
// its keys pressed in the window and from each of its typed characters. A command added to
// the table without an expectation here fails: say what it does.
TEST_F(MenuCommandsTest, EveryCommandActsFromItsMenuAndItsKeys) {
  const std::map<QString, Expectation> expected = expectations();
  for (const BrowserCommand& command : tallyfox::BrowserCommands::all()) {
    SCOPED_TRACE(command.id.toStdString());
    const auto found = expected.find(command.id);
    if (found == expected.end()) {
      ADD_FAILURE() << "no expectation for the command \"" << command.id.toStdString() << "\"";
      continue;
    }
    const Expectation& expectation = found->second;
    // Each way of giving the command, as a name and what to do in the window.
    std::vector<std::pair<QString, std::function<void(Window&)>>> ways;
    if (command.menu != BrowserCommand::Menu::none && !command.choices)
      ways.emplace_back(QStringLiteral("menu"), [&](Window& w) {
        QAction* item = actionFor(w.window.get(), command);
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->isEnabled());
        item->trigger();
      });
    for (const QKeyCombination& key : command.keys)
      ways.emplace_back(QKeySequence(key).toString(), [key](Window&) {
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
      });
    for (const QChar c : command.characters)
      ways.emplace_back(QString(c), [c](Window& w) {
        ASSERT_EQ(QApplication::focusWidget(), w.window->view()->list());
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
      });
    if (command.choices) {
      // The submenu's items as they are once the window has found what to list.
      Window probe(library.file);
      if (expectation.prepare) expectation.prepare(probe);
      QMenu* submenu = actionFor(probe.window.get(), command)->menu();
      ASSERT_NE(submenu, nullptr);
      emit submenu->aboutToShow();
      for (QAction* item : submenu->actions()) {
        if (item->isSeparator()) continue;
        const QString title = item->text();
        ways.emplace_back(title, [&command, title](Window& w) {
          QMenu* menu = actionFor(w.window.get(), command)->menu();
          emit menu->aboutToShow();
          for (QAction* choice : menu->actions())
            if (choice->text() == title) return choice->trigger();
          ADD_FAILURE() << "no item " << title.toStdString();
        });
      }
      EXPECT_GE(ways.size(), 2u) << "a candidate and Other Snapshot…";
    }
    EXPECT_FALSE(ways.empty()) << "a command nothing can give";

    for (const auto& [way, give] : ways) {
      SCOPED_TRACE(way.toStdString());
      Window w(library.file);
      if (expectation.prepare) expectation.prepare(w);
      ASSERT_TRUE(command.isEnabled(*w.model));
      if (QAction* item = actionFor(w.window.get(), command)) {
        EXPECT_TRUE(item->isEnabled());
      }
      give(w);
      expectation.check(w, way);
    }
  }
}

// The sheet lists the table's commands that have help, and every menu command that has keys
// has help. (The list's paired moves, such as up after down, share their partner's line.)
TEST_F(MenuCommandsTest, TheShortcutSheetListsExactlyTheTablesKeys) {
  QStringList expected;
  for (const BrowserCommand& command : tallyfox::BrowserCommands::all()) {
    if (command.menu != BrowserCommand::Menu::none &&
        (!command.keys.isEmpty() || !command.characters.isEmpty())) {
      EXPECT_FALSE(command.help.isEmpty()) << command.id.toStdString();
    }
    if (!command.help.isEmpty()) expected << command.help;
  }
  QStringList shown;
  for (const auto& [keys, help] : tallyfox::ShortcutSheet::rows()) shown << help;
  EXPECT_EQ(shown, expected);
  // Menu commands show their typed characters beside their keys, with this desktop's names.
  QStringList keys;
  for (const auto& [k, help] : tallyfox::ShortcutSheet::rows()) keys << k;
  for (const char* line : {"r  or  Ctrl+R", "Space  or  Ctrl+Y", "?  or  Ctrl+/", "~  or  Ctrl+Shift+Up",
                           "c y  or  Ctrl+Alt+C", "Ctrl+Alt+R", "Ctrl+Shift+D", "Ctrl+Backspace"})
    EXPECT_TRUE(keys.contains(QString::fromUtf8(line))) << line;
}

// Qt does nothing at all for a key that two items of a window claim ("ambiguous shortcut"):
// every key of a window's menus and list, and every typed character, means one thing.
TEST_F(MenuCommandsTest, NoKeyIsPromisedTwice) {
  Window w(library.file);
  std::map<QString, QString> owners;
  const auto claim = [&](const QString& key, const QString& owner) {
    const auto [it, added] = owners.emplace(key, owner);
    EXPECT_TRUE(added) << key.toStdString() << ": " << it->second.toStdString() << " and "
                       << owner.toStdString();
  };
  for (QAction* item : leafItems(w.window.get()))
    for (const QKeySequence& key : item->shortcuts()) claim(key.toString(), item->text());
  for (const BrowserCommand& command : tallyfox::BrowserCommands::all()) {
    if (command.menu == BrowserCommand::Menu::none)
      for (const QKeyCombination& key : command.keys) claim(QKeySequence(key).toString(), command.id);
    for (const QChar c : command.characters) claim(QStringLiteral("typed ") + c, command.id);
  }
  EXPECT_GT(owners.size(), 40u);
}

// While the duplicates or a folder outside the snapshot fill the window, the list is not
// there to act on: its commands wait, by their menu items and by their keys, Backspace and
// Delete among them. History and Enclosing Folder still lead out of the outside view.
TEST_F(MenuCommandsTest, ListCommandsWaitWhileAnotherViewTakesItsPlace) {
  const std::set<QString> onTheList{"moveDown",    "moveUp", "pageDown",   "pageUp",     "first",
                                    "last",        "expand", "collapse",   "open",       "up",
                                    "enterFolder", "filter", "preview",    "reveal",     "copyPath",
                                    "openFile",    "copy",   "toggleMark", "moveToTrash"};
  const std::set<QString> moving{"enclosingFolder", "back", "forward", "top"};
  struct View {
    const char* name;
    std::function<void(Window&)> open, close;
    std::set<QString> stillMoving;
  };
  const std::vector<View> views{
      {"duplicates",
       [](Window& w) { w.model->duplicates().findDuplicates(); },
       [](Window& w) { w.model->duplicates().close(); },
       {}},
      {"outside",
       [](Window& w) { w.model->outside().showOutside(w.model->outside().outsideAncestors().back()); },
       [](Window& w) { w.model->outside().backInside(); },
       {"enclosingFolder", "back", "top"}},
  };
  for (const View& view : views) {
    SCOPED_TRACE(view.name);
    Window w(library.file);
    w.enter("photos");
    w.select("cover.jpg");
    view.open(w);
    QCoreApplication::processEvents();
    ASSERT_FALSE(w.window->view()->list()->isVisible());
    const tallyfox::NodeId current = w.model->current();
    for (const BrowserCommand& command : tallyfox::BrowserCommands::all()) {
      const bool waits = onTheList.contains(command.id) ||
                         (moving.contains(command.id) && !view.stillMoving.contains(command.id));
      if (!waits) continue;
      SCOPED_TRACE(command.id.toStdString());
      EXPECT_FALSE(command.isEnabled(*w.model));
      if (QAction* item = actionFor(w.window.get(), command)) {
        EXPECT_FALSE(item->isEnabled());
      }
      EXPECT_FALSE(tallyfox::BrowserCommands::run(command, *w.model));
    }
    for (const QString& id : view.stillMoving)
      EXPECT_TRUE(tallyfox::BrowserCommands::find(id)->isEnabled(*w.model)) << id.toStdString();
    // The keys, where the window's focus is now.
    for (const auto key : {Qt::Key_Backspace, Qt::Key_Delete})
      QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w.window.get(), key);
    for (const auto& [key, mods] : std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
             {Qt::Key_R, Qt::ControlModifier},
             {Qt::Key_C, Qt::ControlModifier | Qt::AltModifier},
             {Qt::Key_F, Qt::ControlModifier},
             {Qt::Key_Y, Qt::ControlModifier},
             {Qt::Key_Backspace, Qt::ControlModifier}})
      QTest::keyClick(w.window.get(), key, mods);
    EXPECT_TRUE(w.model->deleteList().isEmpty());
    EXPECT_EQ(w.selected(), "cover.jpg");
    EXPECT_TRUE(w.log->revealed.isEmpty());
    EXPECT_TRUE(w.log->copiedTexts.isEmpty());
    EXPECT_TRUE(w.log->trashed.isEmpty());
    EXPECT_FALSE(w.model->isFiltering());
    EXPECT_TRUE(w.model->previewURL().isEmpty());
    if (view.stillMoving.empty()) {
      EXPECT_EQ(w.model->current(), current);
    }

    // A delete list made before can still go to the Trash: that takes no selection.
    w.model->deleteList().toggleMark(w.id("music"));
    EXPECT_TRUE(actionFor(w.window.get(), *tallyfox::BrowserCommands::find("moveToTrash"))->isEnabled());
    w.model->deleteList().toggleMark(w.id("music"));

    // Back in the list, they act again.
    view.close(w);
    QCoreApplication::processEvents();
    w.enter("photos");
    w.select("cover.jpg");
    for (const QString& id :
         {QStringLiteral("toggleMark"), QStringLiteral("reveal"), QStringLiteral("filter")})
      EXPECT_TRUE(actionFor(w.window.get(), *tallyfox::BrowserCommands::find(id))->isEnabled())
          << id.toStdString();
    w.window->view()->list()->setFocus();
    QTest::keyClick(w.window->view()->list(), Qt::Key_Delete);
    EXPECT_TRUE(w.model->deleteList().isMarked(w.id("cover.jpg")));
  }
}

// The start window and browser windows through the application, as a person meets them.
class MenuBarTest : public MenuCommandsTest {
 protected:
  std::shared_ptr<viewtests::DesktopLog> log = std::make_shared<viewtests::DesktopLog>();
  viewtests::TestApp shell{settings, viewtests::recordingDesktop(log)};
  tallyfox::DocumentController& documents = shell.documents;
  tallyfox::AppUpdater& updater = shell.updater;
  tallyfox::AppDelegate& app = shell.app;
  bool started = (updater.start(), true);
};

TEST_F(MenuBarTest, TheMenusInTheirOrder) {
  BrowserWindow* window = app.openWindow(library.file);
  ASSERT_NE(window, nullptr);
  testsupport::waitUntilLoaded(*window->browser());
  EXPECT_EQ(titlesOf(menuNamed(window, QStringLiteral("&File"))),
            (QStringList{"New Scan…",
                         "Scan Remote Folder…",
                         "Scan Whole Disk as Administrator…",
                         "Open…",
                         "Open Recent",
                         "-",
                         "Save Snapshot As…",
                         "Rescan This Folder",
                         "Find Duplicates…",
                         "Largest Files…",
                         "File Types…",
                         "Clear File Type",
                         "-",
                         "Compare with Previous",
                         "Compare With",
                         "Stop Comparing",
                         "-",
                         "Close",
                         "-",
                         "Settings…",
                         "Quit"}));
  EXPECT_EQ(
      titlesOf(menuNamed(window, QStringLiteral("&Navigate"))),
      (QStringList{"Enter Folder", "Enclosing Folder", "Back", "Forward", "Back to Top", "-", "Filter…",
                   "Filter by Age", "Preview", "Reveal in File Manager", "Show Snapshot in File Manager",
                   "Copy Path", "Add to / Remove from Delete List", "Show Delete List…", "Move to Trash",
                   "Delete Permanently…", "Empty Trash…", "Keyboard Shortcuts"}));
  QMenu* windows = menuNamed(window, QStringLiteral("&Window"));
  emit windows->aboutToShow();
  EXPECT_EQ(titlesOf(windows),
            (QStringList{"Start Window", "-", BrowserWindow::titleFor(*window->browser())}));
  EXPECT_EQ(windows->actions().front()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_0));
}

TEST_F(MenuBarTest, WithoutASnapshotOnlyTheAppsOwnItemsAreEnabled) {
  app.launch({});
  tallyfox::WelcomeWindow* welcome = app.welcomeWindow();
  ASSERT_NE(welcome, nullptr);
  std::set<QString> enabled;
  for (QAction* item : leafItems(welcome))
    if (item->isEnabled()) enabled.insert(item->text());
  EXPECT_EQ(enabled,
            (std::set<QString>{"New Scan…", "Scan Remote Folder…", "Scan Whole Disk as Administrator…",
                               "Open…", "Open Recent", "Close", "Settings…", "Quit", "Start Window",
                               "About Tallyfox", "Check for Updates…"}));
  // Every command of a snapshot is there, but none of their keys can act.
  for (const BrowserCommand& command : tallyfox::BrowserCommands::all()) {
    if (command.menu == BrowserCommand::Menu::none) continue;
    QAction* item = actionFor(welcome, command);
    ASSERT_NE(item, nullptr) << command.id.toStdString();
    EXPECT_FALSE(item->isEnabled()) << command.id.toStdString();
  }
}

TEST_F(MenuBarTest, ItemsFollowTheWindowsState) {
  writeEarlier();
  BrowserWindow* window = app.openWindow(library.file);
  ASSERT_NE(window, nullptr);
  testsupport::waitUntilLoaded(*window->browser());
  BrowserModel& model = *window->browser();
  const auto item = [&](const char* id) { return actionFor(window, *tallyfox::BrowserCommands::find(id)); };
  const auto matchesTable = [&] {
    for (const BrowserCommand& command : tallyfox::BrowserCommands::all())
      if (QAction* action = actionFor(window, command)) {
        EXPECT_EQ(action->isEnabled(), command.isEnabled(model)) << command.id.toStdString();
      }
  };
  matchesTable();
  EXPECT_TRUE(viewtests::waitFor([&] { return item("compareWithPrevious")->isEnabled(); }));
  EXPECT_FALSE(item("stopComparing")->isEnabled());
  EXPECT_FALSE(item("showDeleteList")->isEnabled());
  // At the top of a fresh window Back goes up, to the folder around the snapshot, and there
  // is nowhere forward to go.
  EXPECT_TRUE(item("back")->isEnabled());
  EXPECT_FALSE(item("forward")->isEnabled());
  model.navigate(viewtests::idOf(model, "music"));
  EXPECT_TRUE(item("back")->isEnabled());
  item("back")->trigger();
  EXPECT_TRUE(item("forward")->isEnabled());

  // Nothing selected: nothing to enter, reveal, copy or put on the delete list.
  model.setSelection(std::nullopt);
  for (const char* id : {"enterFolder", "reveal", "copyPath", "toggleMark", "preview"})
    EXPECT_FALSE(item(id)->isEnabled()) << id;
  EXPECT_TRUE(item("showSnapshotInFileManager")->isEnabled());
  matchesTable();

  // One duplicates view per window: the item comes back when it closes.
  model.navigate(viewtests::idOf(model, "photos"));
  item("findDuplicates")->trigger();
  ASSERT_TRUE(model.duplicates().isOpen());
  EXPECT_FALSE(item("findDuplicates")->isEnabled());
  EXPECT_FALSE(tallyfox::BrowserCommands::run(QStringLiteral("findDuplicates"), model));
  model.duplicates().close();
  EXPECT_TRUE(item("findDuplicates")->isEnabled());

  item("compareWithPrevious")->trigger();
  ASSERT_TRUE(viewtests::waitFor([&] { return item("stopComparing")->isEnabled(); }));
  matchesTable();
}

TEST_F(MenuBarTest, TheWindowMenuListsTheOpenSnapshotsAndBringsThemForward) {
  const fs::path other =
      viewtests::writeSnapshot(dir / "other.tfsnap", {{-1, "other"}, {0, "x", 10}}, "/other");
  BrowserWindow* first = app.openWindow(library.file);
  BrowserWindow* second = app.openWindow(other);
  ASSERT_TRUE(first && second);
  testsupport::waitUntilLoaded(*second->browser());
  QMenu* windows = menuNamed(second, QStringLiteral("&Window"));
  emit windows->aboutToShow();
  const QList<QAction*> items = windows->actions();
  ASSERT_EQ(items.size(), 4);  // Start Window, a separator, both snapshots in opening order
  EXPECT_FALSE(items[2]->isChecked());
  EXPECT_TRUE(items[3]->isChecked());
  EXPECT_EQ(items[3]->text(), BrowserWindow::titleFor(*second->browser()));

  items[2]->trigger();
  EXPECT_TRUE(viewtests::waitFor([&] { return QApplication::activeWindow() == first; }));
  EXPECT_EQ(documents.documentFor(library.file), first->browser());  // still one window each
  EXPECT_EQ(app.browserWindows().size(), 2u);

  // Start Window from a snapshot window's menu, by its key.
  QTest::keyClick(first, Qt::Key_0, Qt::ControlModifier);
  ASSERT_NE(app.welcomeWindow(), nullptr);
  EXPECT_TRUE(app.welcomeWindow()->isVisible());
}

}  // namespace
