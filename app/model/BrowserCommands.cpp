#include "model/BrowserCommands.h"

#include "model/BrowserModel.h"
#include "model/Comparison.h"

namespace tallyfox {

namespace {

bool loaded(const BrowserModel& m) {
  return m.tree() != nullptr;
}

bool hasSelection(const BrowserModel& m) {
  return m.tree() && m.selection() && m.tree()->contains(*m.selection());
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
  for (const BrowserCommand& command : all())
    if (command.menu == BrowserCommand::Menu::none && command.matches(key, text)) return &command;
  return nullptr;
}

bool run(const BrowserCommand& command, BrowserModel& browser) {
  if (!command.isEnabled(browser)) return false;
  command.run(browser);
  return true;
}

}  // namespace BrowserCommands
}  // namespace tallyfox
