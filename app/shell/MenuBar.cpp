#include "shell/MenuBar.h"

#include "model/AppUpdater.h"
#include "model/BrowserCommands.h"
#include "model/BrowserModel.h"
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
#include "model/TrashWork.h"
#include "shell/AppDelegate.h"
#include "views/BrowserWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>

namespace tallyfox::MenuBar {

namespace {

void fillRecent(QMenu* menu, AppDelegate* app) {
  menu->clear();
  if (!app) return;
  DocumentController& documents = app->documents();
  int shown = 0;
  for (const auto& file : documents.recentDocuments()) {
    const QString path = QString::fromStdString(file.string());
    if (!QFileInfo::exists(path)) continue;
    QAction* item = menu->addAction(QFileInfo(path).fileName());
    item->setToolTip(path);
    QObject::connect(item, &QAction::triggered, menu, [&documents, file] { documents.openDocument(file); });
    ++shown;
  }
  if (shown == 0) menu->addAction(QStringLiteral("No Recent Snapshots"))->setEnabled(false);
  menu->addSeparator();
  QAction* clear = menu->addAction(QStringLiteral("Clear Menu"));
  clear->setEnabled(shown > 0);
  QObject::connect(clear, &QAction::triggered, menu, [&documents] { documents.clearRecentDocuments(); });
}

// Help comes last, whatever menus a window has.
void addHelp(QMenuBar* bar, AppDelegate* app) {
  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  QAction* about = help->addAction(QStringLiteral("About Tallyfox"));
  about->setMenuRole(QAction::AboutRole);
  const QPointer<AppDelegate> delegate(app);
  QObject::connect(about, &QAction::triggered, help, [delegate] {
    if (delegate) delegate->showAbout();
  });
  // Always offered: the updater itself ignores the check while it did not start or while a
  // downloaded update waits to be installed.
  QAction* check = help->addAction(QStringLiteral("Check for Updates…"));
  check->setMenuRole(QAction::ApplicationSpecificRole);
  const QPointer<AppUpdater> updater(app ? app->updater() : nullptr);
  QObject::connect(check, &QAction::triggered, help, [updater] {
    if (updater) updater->checkForUpdates();
  });
}

// The open snapshot windows, by the document controller's list, this window's checked.
void fillWindows(QMenu* menu, QAction* after, AppDelegate* app, const BrowserModel* own) {
  const QList<QAction*> items = menu->actions();
  for (qsizetype i = items.indexOf(after) + 1; i < items.size(); ++i) delete items[i];
  if (!app) return;
  DocumentController& documents = app->documents();
  const std::vector<BrowserModel*> open = documents.browsers();
  if (!open.empty()) menu->addSeparator();
  for (BrowserModel* document : open) {
    QAction* item = menu->addAction(BrowserWindow::titleFor(*document));
    item->setCheckable(true);
    item->setChecked(document == own);
    const std::optional<std::filesystem::path> file = document->fileURL();
    QObject::connect(item, &QAction::triggered, menu, [&documents, file] {
      if (file) documents.openDocument(*file);  // an open document comes forward
    });
  }
}

// The table's commands of one menu, in the table's order. Without a browser (the start
// window) they are listed as on every window, but can do nothing.
std::vector<std::pair<QAction*, const BrowserCommand*>> addCommands(QMenu* menu, BrowserCommand::Menu which,
                                                                    QAction* before, QWidget* window,
                                                                    const QPointer<BrowserModel>& model) {
  std::vector<std::pair<QAction*, const BrowserCommand*>> items;
  for (const BrowserCommand& command : BrowserCommands::all()) {
    if (command.menu != which) continue;
    if (command.separatorBefore) menu->insertSeparator(before);
    QAction* action = nullptr;
    if (command.choices) {
      auto* submenu = new QMenu(command.menuTitle, menu);
      action = submenu->menuAction();
      QObject::connect(submenu, &QMenu::aboutToShow, submenu, [submenu, model, which = &command] {
        submenu->clear();
        if (!model) return;
        for (const BrowserCommand::Choice& choice : which->choices(*model)) {
          if (choice.separatorBefore) submenu->addSeparator();
          QAction* item = submenu->addAction(choice.title);
          QObject::connect(item, &QAction::triggered, submenu, [model, run = choice.run] {
            if (model) run(*model);
          });
        }
      });
    } else {
      action = new QAction(command.menuTitle, menu);
      QList<QKeySequence> keys;
      for (const QKeyCombination& key : command.keys) keys << QKeySequence(key);
      action->setShortcuts(keys);
      action->setCheckable(bool(command.isChecked));
      QObject::connect(action, &QAction::triggered, window, [model, which = &command] {
        if (model) BrowserCommands::run(*which, *model);
      });
    }
    action->setObjectName(command.id);
    menu->insertAction(before, action);
    items.emplace_back(action, &command);
  }
  return items;
}

}  // namespace

void install(QMainWindow* window, AppDelegate* app, BrowserModel* browser) {
  QMenuBar* bar = window->menuBar();
  const QPointer<AppDelegate> delegate(app);
  const QPointer<BrowserModel> model(browser);

  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  QAction* newScan = file->addAction(QStringLiteral("New Scan…"));
  newScan->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  QObject::connect(newScan, &QAction::triggered, window, [delegate] {
    if (delegate) delegate->showWelcome();
  });
  QAction* remote = file->addAction(QStringLiteral("Scan Remote Folder…"));
  QObject::connect(remote, &QAction::triggered, window, [delegate] {
    if (delegate) delegate->chooseRemoteFolder();
  });
  QAction* administrator = file->addAction(QStringLiteral("Scan Whole Disk as Administrator…"));
  QObject::connect(administrator, &QAction::triggered, window, [delegate] {
    if (delegate) delegate->scanAsAdministrator();
  });
  for (QAction* item : {remote, administrator}) item->setEnabled(delegate != nullptr);
  QAction* open = file->addAction(QStringLiteral("Open…"));
  open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  QObject::connect(open, &QAction::triggered, window, [delegate, window] {
    if (delegate) delegate->chooseSnapshot(window);
  });
  QMenu* recent = file->addMenu(QStringLiteral("Open Recent"));
  QObject::connect(recent, &QMenu::aboutToShow, recent, [recent, delegate] { fillRecent(recent, delegate); });
  fillRecent(recent, app);
  file->addSeparator();
  QAction* closeSeparator = file->addSeparator();
  QAction* close = file->addAction(QStringLiteral("Close"));
  close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
  QObject::connect(close, &QAction::triggered, window, &QWidget::close);
  file->addSeparator();
  QAction* settings = file->addAction(QStringLiteral("Settings…"));
  settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
  settings->setMenuRole(QAction::PreferencesRole);
  QObject::connect(settings, &QAction::triggered, window, [delegate] {
    if (delegate) delegate->showSettings();
  });
  QAction* quit = file->addAction(QStringLiteral("Quit"));
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  quit->setMenuRole(QAction::QuitRole);
  QObject::connect(quit, &QAction::triggered, window, [delegate] {
    if (delegate)
      delegate->quit();
    else
      QApplication::quit();
  });
  auto items = addCommands(file, BrowserCommand::Menu::file, closeSeparator, window, model);

  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  for (const auto& item : addCommands(view, BrowserCommand::Menu::view, nullptr, window, model))
    items.push_back(item);

  QMenu* navigate = bar->addMenu(QStringLiteral("&Navigate"));
  for (const auto& item : addCommands(navigate, BrowserCommand::Menu::navigate, nullptr, window, model))
    items.push_back(item);

  QMenu* windows = bar->addMenu(QStringLiteral("&Window"));
  QAction* start = windows->addAction(QStringLiteral("Start Window"));
  start->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  QObject::connect(start, &QAction::triggered, window, [delegate] {
    if (delegate) delegate->showWelcome();
  });
  QObject::connect(windows, &QMenu::aboutToShow, windows,
                   [windows, start, delegate, model] { fillWindows(windows, start, delegate, model); });

  addHelp(bar, app);

  // Enabled as the window's state allows, checked whenever something it depends on moves
  // (a disabled item's keys do nothing, so this cannot wait for the menu to open).
  auto refresh = [model, items] {
    for (const auto& [action, command] : items) {
      const bool enabled = model && command->isEnabled(*model);
      action->setEnabled(enabled);
      // An empty tooltip shows the item's text again.
      action->setToolTip(!enabled && model && command->whyDisabled ? command->whyDisabled(*model)
                                                                   : QString());
      if (command->isChecked) action->setChecked(model && command->isChecked(*model));
    }
  };
  refresh();
  for (QMenu* menu : {file, navigate}) menu->setToolTipsVisible(true);
  if (!browser) return;
  for (QMenu* menu : {file, view, navigate}) QObject::connect(menu, &QMenu::aboutToShow, window, refresh);
  for (auto signal : {&BrowserModel::treeChanged, &BrowserModel::currentChanged,
                      &BrowserModel::selectionChanged, &BrowserModel::previewURLChanged})
    QObject::connect(browser, signal, window, refresh);
  for (auto signal : {&ComparisonModel::comparisonChanged, &ComparisonModel::candidatesChanged})
    QObject::connect(&browser->comparing(), signal, window, refresh);
  QObject::connect(&browser->deleteList(), &DeleteList::marksChanged, window, refresh);
  for (auto signal : {&TrashWork::isTrashingChanged, &TrashWork::isEmptyingTrashChanged,
                      &TrashWork::isDeletingChanged, &TrashWork::lastTrashChanged})
    QObject::connect(&browser->deleteList().trash(), signal, window, refresh);
  QObject::connect(&browser->duplicates(), &Duplicates::stateChanged, window, refresh);
  QObject::connect(&browser->largestFiles(), &LargestFiles::openChanged, window, refresh);
  QObject::connect(&browser->fileTypes(), &FileTypes::openChanged, window, refresh);
  QObject::connect(&browser->fileTypes(), &FileTypes::chosenChanged, window, refresh);
  QObject::connect(&browser->partialScans(), &PartialScans::addingScanPathChanged, window, refresh);
  QObject::connect(&browser->outside(), &OutsideModel::outsidePathChanged, window, refresh);
  QObject::connect(&browser->folderHistory(), &FolderHistory::shownChanged, window, refresh);
  // The status line's switch changes it too.
  QObject::connect(&browser->countMode(), &CountMode::measureChanged, window, refresh);
}

}  // namespace tallyfox::MenuBar
