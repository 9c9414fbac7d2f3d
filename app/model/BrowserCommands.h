#pragma once

#include <QKeyCombination>
#include <QList>
#include <QString>

#include <functional>
#include <vector>

namespace tallyfox {

class BrowserModel;

// One thing a person can ask of a browser window, declared once: the keys, the menu item,
// the line of the shortcut sheet, when it can be used and what it does. The list's key
// handling, the menu bar and the shortcut sheet all read this table, so a key cannot be
// promised in one place and missing in another. Features add their commands here when they
// are built; nothing is listed ahead of its feature.
struct BrowserCommand {
  enum class Menu { none, file, view, navigate };

  // One item of a command's submenu, as it stands when the menu opens.
  struct Choice {
    QString title{};
    std::function<void(BrowserModel&)> run{};
    bool separatorBefore = false;
  };

  QString id{};
  // A command with a menu item is reached through that item's shortcuts and nowhere else;
  // the list only handles the commands that have none, and the typed characters of all.
  // Within a menu, items follow the table's order.
  Menu menu = Menu::none;
  QString menuTitle{};
  bool separatorBefore = false;
  // Keys that are not typed characters (arrows, Return, Ctrl+[).
  QList<QKeyCombination> keys{};
  // Typed characters, matched by the text a key produces, so that "~" and "?" work on every
  // keyboard layout.
  QString characters{};
  // The shortcut sheet's line; a command without help text is not listed there. Without
  // `keysText` the sheet names the characters, then the keys.
  QString keysText{};
  QString help{};
  std::function<bool(const BrowserModel&)> isEnabled{};
  std::function<void(BrowserModel&)> run{};
  // Set for a command that shows or hides something: its menu item carries a check mark.
  std::function<bool(const BrowserModel&)> isChecked{};
  // Set for a command that is a submenu: its items, listed each time it opens. Such a
  // command has no keys and no `run` of its own.
  std::function<std::vector<Choice>(BrowserModel&)> choices{};
  // Why the command cannot be used now, for the disabled item's tooltip; empty when there
  // is nothing to explain.
  std::function<QString(const BrowserModel&)> whyDisabled{};

  bool matches(QKeyCombination key, const QString& text) const;
};

namespace BrowserCommands {

// In the shortcut sheet's order.
const std::vector<BrowserCommand>& all();
const BrowserCommand* find(const QString& id);
// The list's command for a key press, if any: a command without a menu item, or a typed
// character of one with a menu item.
const BrowserCommand* forListKey(QKeyCombination key, const QString& text);
// Runs the command when it is enabled; false otherwise.
bool run(const BrowserCommand& command, BrowserModel& browser);
// Runs the command by its id when it is enabled; false otherwise or when there is none.
bool run(const QString& id, BrowserModel& browser);

}  // namespace BrowserCommands
}  // namespace tallyfox
