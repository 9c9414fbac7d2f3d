#include "model/BrowserCommands.h"

#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/DeleteList.h"
#include "model/Duplicates.h"

namespace tallyfox {

namespace {

bool loaded(const BrowserModel& m) {
  return m.tree() != nullptr;
}

bool hasSelection(const BrowserModel& m) {
  return m.tree() && m.selection() && m.tree()->contains(*m.selection());
}

bool canMark(const BrowserModel& m) {
  return hasSelection(m) && *m.selection() != DiskTree::root;
}

std::vector<BrowserCommand> makeTable() {
  using Menu = BrowserCommand::Menu;
  auto move = [](int delta) { return [delta](BrowserModel& m) { m.move(delta); }; };
  std::vector<BrowserCommand> table = {
      {"moveDown", {Qt::Key_Down}, "j", Menu::none, {}, "↓ ↑  or  j k", "Move selection", loaded, move(1)},
      {"moveUp", {Qt::Key_Up}, "k", Menu::none, {}, {}, {}, loaded, move(-1)},
      {"pageDown",
       {Qt::Key_PageDown},
       "J",
       Menu::none,
       {},
       "J K  /  Page Down Up",
       "Move by 15",
       loaded,
       move(15)},
      {"pageUp", {Qt::Key_PageUp}, "K", Menu::none, {}, {}, {}, loaded, move(-15)},
      {"first",
       {Qt::Key_Home},
       "g",
       Menu::none,
       {},
       "g G  /  Home End",
       "First / last",
       loaded,
       [](BrowserModel& m) { m.selectFirst(); }},
      {"last", {Qt::Key_End}, "G", Menu::none, {}, {}, {}, loaded, [](BrowserModel& m) { m.selectLast(); }},
      {"expand",
       {Qt::Key_Right},
       {},
       Menu::none,
       {},
       "→  /  ←",
       "Expand / collapse folder",
       hasSelection,
       [](BrowserModel& m) { m.expandOrDescend(); }},
      {"collapse",
       {Qt::Key_Left},
       {},
       Menu::none,
       {},
       {},
       {},
       loaded,
       [](BrowserModel& m) { m.collapseOrAscend(); }},
      {"open",
       {Qt::Key_Return, Qt::Key_Enter},
       "l",
       Menu::none,
       {},
       "Return  or  l",
       "Open folder",
       hasSelection,
       [](BrowserModel& m) { m.enter(); }},
      {"up",
       {Qt::Key_Escape},
       "h",
       Menu::none,
       {},
       "Esc  or  h",
       "Up to parent",
       loaded,
       [](BrowserModel& m) { m.goUp(); }},
      {"top", {}, "~", Menu::none, {}, "~", "Back to top", loaded, [](BrowserModel& m) { m.backToTop(); }},
      {"back",
       {Qt::CTRL | Qt::Key_BracketLeft, Qt::ALT | Qt::Key_Left},
       {},
       Menu::navigate,
       "Back",
       {},
       "Back",
       loaded,
       [](BrowserModel& m) { m.goBack(); }},
      {"forward",
       {Qt::CTRL | Qt::Key_BracketRight, Qt::ALT | Qt::Key_Right},
       {},
       Menu::navigate,
       "Forward",
       {},
       "Forward",
       loaded,
       [](BrowserModel& m) { m.goForward(); }},
      {"enclosingFolder",
       {Qt::CTRL | Qt::Key_Up},
       {},
       Menu::navigate,
       "Enclosing Folder",
       {},
       "Enclosing folder",
       [](const BrowserModel& m) { return m.canGoUp(); },
       [](BrowserModel& m) { m.goUp(); }},
      {"enterFolder",
       {Qt::CTRL | Qt::Key_Down},
       {},
       Menu::navigate,
       "Enter Folder",
       {},
       "Enter folder",
       hasSelection,
       [](BrowserModel& m) { m.enter(); }},
      {"filter",
       {},
       "/",
       Menu::none,
       {},
       "/",
       "Filter this folder",
       loaded,
       [](BrowserModel& m) { m.requestFilter(); }},
      {"preview",
       {},
       " ",
       Menu::none,
       {},
       "Space",
       "Preview",
       hasSelection,
       [](BrowserModel& m) { m.togglePreview(); }},
      {"reveal",
       {},
       "r",
       Menu::none,
       {},
       "r",
       "Reveal in File Manager",
       hasSelection,
       [](BrowserModel& m) { m.revealInFinder(); }},
      {"openFile",
       {},
       "o",
       Menu::none,
       {},
       "o",
       "Open",
       hasSelection,
       [](BrowserModel& m) { m.openSelection(); }},
      {"copyPath",
       {},
       "cy",
       Menu::none,
       {},
       "c  or  y",
       "Copy path",
       hasSelection,
       [](BrowserModel& m) { m.copyPath(); }},
      {"copy",
       {Qt::CTRL | Qt::Key_C},
       {},
       Menu::none,
       {},
       {},
       "Copy (file reference, like a file manager)",
       hasSelection,
       [](BrowserModel& m) { m.copyFileReference(); }},
      {"toggleMark",
       {Qt::Key_Backspace, Qt::Key_Delete},
       "d",
       Menu::navigate,
       "Add to / Remove from Delete List",
       "Backspace  Delete  or  d",
       "Add to / remove from delete list",
       canMark,
       [](BrowserModel& m) { m.deleteList().toggleMark(); }},
      // The mouse's way to the same, listed on the sheet beside the keys.
      {"toggleMarkWithMouse",
       {},
       {},
       Menu::none,
       {},
       "Alt-click  or  the row's icon",
       "Same, with the mouse (no selection change)",
       [](const BrowserModel&) { return false; },
       [](BrowserModel&) {}},
      {"showDeleteList",
       {},
       {},
       Menu::navigate,
       "Show Delete List…",
       {},
       {},
       [](const BrowserModel& m) { return m.tree() && !m.deleteList().isEmpty(); },
       [](BrowserModel& m) { m.deleteList().setShowingDeleteList(true); }},
      {"moveToTrash",
       {Qt::CTRL | Qt::Key_Backspace},
       {},
       Menu::navigate,
       "Move to Trash",
       {},
       "Move delete list (or selection) to Trash",
       [](const BrowserModel& m) { return m.tree() && !m.deleteList().isTrashing(); },
       [](BrowserModel& m) { m.deleteList().requestTrash(); }},
      {"emptyTrash",
       {Qt::CTRL | Qt::SHIFT | Qt::Key_Backspace},
       {},
       Menu::navigate,
       "Empty Trash…",
       {},
       "Empty the Trash (asks first)",
       [](const BrowserModel& m) {
         return m.services().desktop.trash != nullptr && !m.deleteList().isEmptyingTrash();
       },
       [](BrowserModel& m) { m.deleteList().requestEmptyTrash(); }},
      {"saveSnapshotAs",
       {Qt::CTRL | Qt::SHIFT | Qt::Key_S},
       {},
       Menu::file,
       "Save Snapshot As…",
       {},
       {},
       loaded,
       [](BrowserModel& m) { m.saveSnapshotAs(); }},
      {"findDuplicates",
       {Qt::CTRL | Qt::ALT | Qt::Key_D},
       {},
       Menu::file,
       "Find Duplicates…",
       {},
       "Find duplicates in this folder",
       [](const BrowserModel& m) { return m.tree() && !m.duplicates().isOpen(); },
       [](BrowserModel& m) { m.duplicates().findDuplicates(); }},
      {"compareWithPrevious",
       {Qt::CTRL | Qt::Key_D},
       {},
       Menu::navigate,
       "Compare with Previous",
       {},
       "Compare with the previous snapshot",
       [](const BrowserModel& m) { return m.comparing().previousSnapshot().has_value(); },
       [](BrowserModel& m) {
         if (const auto previous = m.comparing().previousSnapshot()) m.comparing().compare(*previous);
       }},
      {"stopComparing",
       {},
       {},
       Menu::navigate,
       "Stop Comparing",
       {},
       {},
       [](const BrowserModel& m) { return m.comparing().comparison() != nullptr; },
       [](BrowserModel& m) { m.comparing().stop(); }},
      {"help",
       {},
       "?",
       Menu::none,
       {},
       "?",
       "This list",
       [](const BrowserModel&) { return true; },
       [](BrowserModel& m) { m.setShowHelp(true); }},
  };
  return table;
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
  static const std::vector<BrowserCommand> table = makeTable();
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
  if (!command.isEnabled(browser)) return false;
  command.run(browser);
  return true;
}

}  // namespace BrowserCommands
}  // namespace tallyfox
