#include "model/BrowserCommands.h"

#include "model/AgeFilter.h"
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/CountMode.h"
#include "model/DeleteList.h"
#include "model/Duplicates.h"
#include "model/FileActions.h"
#include "model/FileTypes.h"
#include "model/FolderHistory.h"
#include "model/Format.h"
#include "model/LargestFiles.h"
#include "model/OutsideModel.h"
#include "model/PartialScans.h"
#include "model/RemoteBrowsing.h"
#include "model/TrashWork.h"

#include <tallyfox/SnapshotPaths.h>

namespace tallyfox {

namespace {

bool loaded(const BrowserModel& m) {
  return m.tree() != nullptr;
}

// A view of a folder's subtree takes the window's centre: the duplicates, the largest files
// or the file types. Each keeps its folder until it closes.
bool centreTaken(const BrowserModel& m) {
  return m.duplicates().isOpen() || m.largestFiles().isOpen() || m.fileTypes().isOpen();
}

// The list is on screen: neither a view of a subtree nor a folder outside the snapshot take
// its place. What acts on the list's rows or its selection waits for it, so that no key
// reaches a list the person cannot see.
bool listShown(const BrowserModel& m) {
  return m.tree() && !centreTaken(m) && !m.outside().isShown();
}

// The snapshot's folders can be moved between: the list, or the folders outside the snapshot
// that history and Enclosing Folder lead to.
bool browsing(const BrowserModel& m) {
  return m.tree() && !centreTaken(m);
}

bool hasSelection(const BrowserModel& m) {
  return listShown(m) && m.selection() && m.tree()->contains(*m.selection());
}

bool canMark(const BrowserModel& m) {
  return hasSelection(m) && *m.selection() != DiskTree::root;
}

bool always(const BrowserModel&) {
  return true;
}

// The ages the filter can keep; the day is asked for by the window.
std::vector<BrowserCommand::Choice> ageChoices(BrowserModel&) {
  using Span = AgeFilter::Span;
  std::vector<BrowserCommand::Choice> choices{{"Any Age", [](BrowserModel& m) { AgeFilter::of(m).clear(); }}};
  for (const auto& [span, title] :
       {std::pair{Span::days30, "Not Modified for 30 Days"}, std::pair{Span::year, "Not Modified for 1 Year"},
        std::pair{Span::years3, "Not Modified for 3 Years"}}) {
    // clang 14 cannot capture a structured binding in a lambda.
    const Span kept = span;
    choices.push_back({title,
                       [kept](BrowserModel& m) {
                         AgeFilter::of(m).set({kept, {}});
                       },
                       kept == Span::days30});
  }
  choices.push_back({"Not Modified Since…", [](BrowserModel& m) { AgeFilter::of(m).requestDate(); }});
  return choices;
}

// The snapshots this window can be compared with, then a chooser for any other.
std::vector<BrowserCommand::Choice> comparisonChoices(BrowserModel& m) {
  std::vector<BrowserCommand::Choice> choices;
  const std::vector<SnapshotPaths::Listed>& candidates = m.comparing().comparisonCandidates();
  // The window's own snapshot goes last, unlisted: a candidate of the same minute needs its
  // seconds to be told from it too.
  const auto title = [&](std::size_t i, bool seconds) {
    const bool own = i == candidates.size();
    const auto started = own ? m.tree()->scanStart() : candidates[i].info.scanStart;
    const std::string& root = own ? m.tree()->rootPath() : candidates[i].info.rootPath;
    return Format::abbreviatedDateTime(started, {}, seconds) + QStringLiteral(" — ") +
           QString::fromStdString(PathText::abbreviateTilde(root));
  };
  const std::vector<QString> titles = Format::labelsApart(candidates.size() + (m.tree() ? 1 : 0), title);
  for (std::size_t i = 0; i < candidates.size(); ++i)
    choices.push_back(
        {titles[i], [file = candidates[i].url](BrowserModel& b) { b.comparing().compare(file); }});
  choices.push_back({QStringLiteral("Other Snapshot…"),
                     [](BrowserModel& b) { b.comparing().chooseComparison(); }, !choices.empty()});
  // The list is made off the main thread: it may catch up a moment later, for the next time.
  m.comparing().refreshCandidates();
  return choices;
}

void revealSnapshotFile(BrowserModel& m) {
  if (!m.fileURL() || !m.services().desktop.fileManager) return;
  m.services().desktop.fileManager->reveal(QByteArray::fromStdString(m.fileURL()->string()));
}

std::vector<BrowserCommand> makeTable() {
  using Menu = BrowserCommand::Menu;
  auto move = [](int delta) { return [delta](BrowserModel& m) { m.move(delta); }; };
  return {
      // Moving in the list.
      {.id = "moveDown",
       .keys = {Qt::Key_Down},
       .characters = "j",
       .keysText = "↓ ↑  or  j k",
       .help = "Move selection",
       .isEnabled = listShown,
       .run = move(1)},
      {.id = "moveUp", .keys = {Qt::Key_Up}, .characters = "k", .isEnabled = listShown, .run = move(-1)},
      {.id = "pageDown",
       .keys = {Qt::Key_PageDown},
       .characters = "J",
       .keysText = "J K  /  Page Down Up",
       .help = "Move by 15",
       .isEnabled = listShown,
       .run = move(15)},
      {.id = "pageUp", .keys = {Qt::Key_PageUp}, .characters = "K", .isEnabled = listShown, .run = move(-15)},
      {.id = "first",
       .keys = {Qt::Key_Home},
       .characters = "g",
       .keysText = "g G  /  Home End",
       .help = "First / last",
       .isEnabled = listShown,
       .run = [](BrowserModel& m) { m.selectFirst(); }},
      {.id = "last",
       .keys = {Qt::Key_End},
       .characters = "G",
       .isEnabled = listShown,
       .run = [](BrowserModel& m) { m.selectLast(); }},
      {.id = "expand",
       .keys = {Qt::Key_Right},
       .keysText = "→  /  ←",
       .help = "Expand / collapse folder",
       .isEnabled = hasSelection,
       .run = [](BrowserModel& m) { m.expandOrDescend(); }},
      {.id = "collapse",
       .keys = {Qt::Key_Left},
       .isEnabled = listShown,
       .run = [](BrowserModel& m) { m.collapseOrAscend(); }},
      {.id = "open",
       .keys = {Qt::Key_Return, Qt::Key_Enter},
       .characters = "l",
       .keysText = "Return  or  l",
       .help = "Open folder",
       .isEnabled = hasSelection,
       .run = [](BrowserModel& m) { m.enter(); }},
      {.id = "up",
       .keys = {Qt::Key_Escape},
       .characters = "h",
       .keysText = "Esc  or  h",
       .help = "Up to parent",
       .isEnabled = listShown,
       .run = [](BrowserModel& m) { m.goUp(); }},

      // The View menu. Ctrl+Shift+H: no desktop takes it (Ctrl+Alt+H and Super+H are taken).
      {.id = "history",
       .menu = Menu::view,
       .menuTitle = "History",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_H},
       .help = "Show / hide this folder's size in every snapshot",
       .isEnabled = loaded,
       .run = [](BrowserModel& m) { m.folderHistory().toggle(); },
       .isChecked = [](const BrowserModel& m) { return m.folderHistory().isShown(); }},
      // Ctrl+Shift+N, for the number of entries: no desktop takes it (Ctrl+Shift+E is the
      // emoji entry of some input methods).
      {.id = "countEntries",
       .menu = Menu::view,
       .menuTitle = "Count Entries",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_N},
       .help = "Bars and chart by entries / by size",
       .isEnabled = loaded,
       .run = [](BrowserModel& m) { m.countMode().toggle(); },
       .isChecked = [](const BrowserModel& m) { return m.countMode().countsEntries(); }},

      // The Navigate menu, in its order.
      {.id = "enterFolder",
       .menu = Menu::navigate,
       .menuTitle = "Enter Folder",
       .keys = {Qt::CTRL | Qt::Key_Down},
       .help = "Enter folder",
       .isEnabled = hasSelection,
       .run = [](BrowserModel& m) { m.enter(); }},
      {.id = "enclosingFolder",
       .menu = Menu::navigate,
       .menuTitle = "Enclosing Folder",
       .keys = {Qt::CTRL | Qt::Key_Up},
       .help = "Enclosing folder",
       .isEnabled = [](const BrowserModel& m) { return browsing(m) && m.canGoUp(); },
       .run = [](BrowserModel& m) { m.goUp(); }},
      {.id = "back",
       .menu = Menu::navigate,
       .menuTitle = "Back",
       .keys = {Qt::CTRL | Qt::Key_BracketLeft, Qt::ALT | Qt::Key_Left},
       .help = "Back",
       .isEnabled = [](const BrowserModel& m) { return browsing(m) && m.canGoBack(); },
       .run = [](BrowserModel& m) { m.goBack(); }},
      {.id = "forward",
       .menu = Menu::navigate,
       .menuTitle = "Forward",
       .keys = {Qt::CTRL | Qt::Key_BracketRight, Qt::ALT | Qt::Key_Right},
       .help = "Forward",
       .isEnabled = [](const BrowserModel& m) { return browsing(m) && m.canGoForward(); },
       .run = [](BrowserModel& m) { m.goForward(); }},
      {.id = "top",
       .menu = Menu::navigate,
       .menuTitle = "Back to Top",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_Up},
       .characters = "~",
       .help = "Back to top",
       .isEnabled = browsing,
       .run = [](BrowserModel& m) { m.backToTop(); }},
      {.id = "filter",
       .menu = Menu::navigate,
       .menuTitle = "Filter…",
       .separatorBefore = true,
       .keys = {Qt::CTRL | Qt::Key_F},
       .characters = "/",
       .help = "Filter this folder",
       .isEnabled = listShown,
       .run = [](BrowserModel& m) { m.requestFilter(); }},
      {.id = "filterByAge",
       .menu = Menu::navigate,
       .menuTitle = "Filter by Age",
       .isEnabled = listShown,
       .choices = ageChoices},
      {.id = "preview",
       .menu = Menu::navigate,
       .menuTitle = "Preview",
       .keys = {Qt::CTRL | Qt::Key_Y},
       .characters = " ",
       .help = "Preview",
       // An open preview can always be closed again.
       .isEnabled = [](const BrowserModel& m) { return hasSelection(m) || !m.previewURL().isEmpty(); },
       .run = [](BrowserModel& m) { m.togglePreview(); }},
      {.id = "reveal",
       .menu = Menu::navigate,
       .menuTitle = "Reveal in File Manager",
       .keys = {Qt::CTRL | Qt::Key_R},
       .characters = "r",
       .help = "Reveal in File Manager",
       .isEnabled = hasSelection,
       .run = [](BrowserModel& m) { m.files().revealInFinder(); }},
      {.id = "showSnapshotInFileManager",
       .menu = Menu::navigate,
       .menuTitle = "Show Snapshot in File Manager",
       .keys = {Qt::CTRL | Qt::ALT | Qt::Key_R},
       .help = "Show this snapshot's file in the File Manager",
       .isEnabled = [](const BrowserModel& m) { return m.fileURL().has_value(); },
       .run = revealSnapshotFile},
      {.id = "copyPath",
       .menu = Menu::navigate,
       .menuTitle = "Copy Path",
       .keys = {Qt::CTRL | Qt::ALT | Qt::Key_C},
       .characters = "cy",
       .help = "Copy path",
       .isEnabled = hasSelection,
       .run = [](BrowserModel& m) { m.files().copyPath(); }},
      {.id = "openFile",
       .characters = "o",
       .help = "Open",
       .isEnabled = hasSelection,
       .run = [](BrowserModel& m) { m.files().openSelection(); }},
      {.id = "copy",
       .keys = {Qt::CTRL | Qt::Key_C},
       .help = "Copy (file reference, like a file manager)",
       .isEnabled = hasSelection,
       .run = [](BrowserModel& m) { m.files().copyFileReference(); }},
      {.id = "toggleMark",
       .menu = Menu::navigate,
       .menuTitle = "Add to / Remove from Delete List",
       .keys = {Qt::Key_Backspace, Qt::Key_Delete},
       .characters = "d",
       .keysText = "Backspace  Delete  or  d",
       .help = "Add to / remove from delete list (with the mouse: Alt-click, or the row's icon)",
       .isEnabled = canMark,
       .run = [](BrowserModel& m) { m.deleteList().toggleMark(); }},
      {.id = "showDeleteList",
       .menu = Menu::navigate,
       .menuTitle = "Show Delete List…",
       .isEnabled = [](const BrowserModel& m) { return m.tree() && !m.deleteList().isEmpty(); },
       .run = [](BrowserModel& m) { m.deleteList().setShowingDeleteList(true); }},
      {.id = "moveToTrash",
       .menu = Menu::navigate,
       .menuTitle = "Move to Trash",
       .keys = {Qt::CTRL | Qt::Key_Backspace},
       .help = "Move delete list (or selection) to Trash",
       // With nothing on the delete list it takes the selection, which must be in sight.
       .isEnabled =
           [](const BrowserModel& m) {
             return m.tree() && !m.deleteList().trash().isTrashing() &&
                    !m.deleteList().trash().isDeleting() && (listShown(m) || !m.deleteList().isEmpty());
           },
       .run = [](BrowserModel& m) { m.deleteList().trash().requestTrash(); }},
      // What the Trash could not take, after asking; the result row offers it too.
      {.id = "deletePermanently",
       .menu = Menu::navigate,
       .menuTitle = "Delete Permanently…",
       .isEnabled =
           [](const BrowserModel& m) { return m.tree() && m.deleteList().trash().canDeletePermanently(); },
       .run = [](BrowserModel& m) { m.deleteList().trash().requestDeletePermanently(); }},
      {.id = "emptyTrash",
       .menu = Menu::navigate,
       .menuTitle = "Empty Trash…",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_Backspace},
       .help = "Empty the Trash (asks first)",
       .isEnabled =
           [](const BrowserModel& m) {
             return m.services().desktop.trash != nullptr && !m.deleteList().trash().isEmptyingTrash();
           },
       .run = [](BrowserModel& m) { m.deleteList().trash().requestEmptyTrash(); }},
      {.id = "help",
       .menu = Menu::navigate,
       .menuTitle = "Keyboard Shortcuts",
       .keys = {Qt::CTRL | Qt::Key_Slash},
       .characters = "?",
       .help = "This list",
       .isEnabled = always,
       .run = [](BrowserModel& m) { m.setShowHelp(true); }},

      // The File menu's commands of a snapshot, in its order.
      {.id = "saveSnapshotAs",
       .menu = Menu::file,
       .menuTitle = "Save Snapshot As…",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_S},
       .help = "Save a copy of this snapshot",
       .isEnabled = loaded,
       .run = [](BrowserModel& m) { m.files().saveSnapshotAs(); }},
      // While a folder outside the snapshot is shown, the whole of it.
      {.id = "rescan",
       .menu = Menu::file,
       .menuTitle = "Rescan This Folder",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_R},
       .characters = "R",
       .keysText = "R  /  Ctrl+Shift+R",
       .help = "Rescan this folder into the snapshot",
       .isEnabled = [](const BrowserModel& m) { return m.partialScans().canScan(); },
       .run = [](BrowserModel& m) { m.partialScans().rescan(); }},
      // Ctrl+Alt+D shows the desktop on Xfce and MATE, so it is Ctrl+Shift+D here.
      {.id = "findDuplicates",
       .menu = Menu::file,
       .menuTitle = "Find Duplicates…",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_D},
       .help = "Find duplicates in this folder",
       .isEnabled = browsing,
       .run = [](BrowserModel& m) { m.duplicates().findDuplicates(); }},
      {.id = "largestFiles",
       .menu = Menu::file,
       .menuTitle = "Largest Files…",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_L},
       .help = "The largest files below this folder",
       .isEnabled = browsing,
       .run = [](BrowserModel& m) { m.largestFiles().show(); }},
      {.id = "fileTypes",
       .menu = Menu::file,
       .menuTitle = "File Types…",
       .keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_T},
       .help = "Space per kind of file below this folder",
       .isEnabled = browsing,
       .run = [](BrowserModel& m) { m.fileTypes().show(); }},
      {.id = "clearFileType",
       .menu = Menu::file,
       .menuTitle = "Clear File Type",
       .help = "Stop picking out a kind of file",
       .isEnabled = [](const BrowserModel& m) { return m.fileTypes().chosen().has_value(); },
       .run = [](BrowserModel& m) { m.fileTypes().clearChoice(); }},
      {.id = "compareWithPrevious",
       .menu = Menu::file,
       .menuTitle = "Compare with Previous",
       .separatorBefore = true,
       .keys = {Qt::CTRL | Qt::Key_D},
       .help = "Compare with the previous snapshot",
       .isEnabled = [](const BrowserModel& m) { return m.comparing().previousSnapshot().has_value(); },
       .run =
           [](BrowserModel& m) {
             if (const auto previous = m.comparing().previousSnapshot()) m.comparing().compare(*previous);
           }},
      {.id = "compareWith",
       .menu = Menu::file,
       .menuTitle = "Compare With",
       .isEnabled = loaded,
       .choices = comparisonChoices},
      {.id = "stopComparing",
       .menu = Menu::file,
       .menuTitle = "Stop Comparing",
       .isEnabled = [](const BrowserModel& m) { return m.comparing().comparison() != nullptr; },
       .run = [](BrowserModel& m) { m.comparing().stop(); }},
  };
}

// The commands that reach a file on this computer by its path in the snapshot. A snapshot
// scanned on another machine offers them disabled, saying why: its paths are that
// machine's.
void requireLocalFiles(std::vector<BrowserCommand>& table) {
  static const QStringList ids{"preview",       "reveal",         "openFile",    "copy",
                               "toggleMark",    "showDeleteList", "moveToTrash", "deletePermanently",
                               "findDuplicates"};
  for (BrowserCommand& command : table) {
    if (!ids.contains(command.id)) continue;
    command.isEnabled = [inner = command.isEnabled](const BrowserModel& m) {
      return RemoteBrowsing::hasLocalFiles(m) && inner(m);
    };
    command.whyDisabled = RemoteBrowsing::whyNoLocalFile;
  }
}

}  // namespace

bool BrowserCommand::matches(QKeyCombination key, const QString& text) const {
  // The keypad's arrows and Return are the same keys.
  const QKeyCombination plain(key.keyboardModifiers() & ~Qt::KeypadModifier, key.key());
  for (const QKeyCombination& k : keys)
    if (k == plain) return true;
  // Characters count whatever Shift did to produce them, but not with Ctrl or Alt held.
  const auto mods = plain.keyboardModifiers() & ~Qt::ShiftModifier;
  return mods == Qt::NoModifier && text.size() == 1 && characters.contains(text.front());
}

namespace BrowserCommands {

const std::vector<BrowserCommand>& all() {
  static const std::vector<BrowserCommand> table = [] {
    std::vector<BrowserCommand> made = makeTable();
    requireLocalFiles(made);
    return made;
  }();
  return table;
}

const BrowserCommand* find(const QString& id) {
  for (const BrowserCommand& command : all())
    if (command.id == id) return &command;
  return nullptr;
}

const BrowserCommand* forListKey(QKeyCombination key, const QString& text) {
  for (const BrowserCommand& command : all()) {
    if (command.menu == BrowserCommand::Menu::none && command.matches(key, text)) return &command;
    // A menu cannot take a typed character as its shortcut: the list types it for the menu.
    if (command.menu != BrowserCommand::Menu::none && !command.characters.isEmpty()) {
      BrowserCommand typed;
      typed.characters = command.characters;
      if (typed.matches(key, text)) return &command;
    }
  }
  return nullptr;
}

bool run(const BrowserCommand& command, BrowserModel& browser) {
  if (!command.run || !command.isEnabled(browser)) return false;
  command.run(browser);
  return true;
}

bool run(const QString& id, BrowserModel& browser) {
  const BrowserCommand* command = find(id);
  return command && run(*command, browser);
}

}  // namespace BrowserCommands
}  // namespace tallyfox
