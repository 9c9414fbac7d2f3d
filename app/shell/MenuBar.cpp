#include "shell/MenuBar.h"

#include "model/AppUpdater.h"
#include "model/BrowserCommands.h"
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/DeleteList.h"
#include "model/DocumentController.h"
#include "model/Format.h"
#include "shell/AppDelegate.h"

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
  QAction* check = help->addAction(QStringLiteral("Check for Updates…"));
  check->setMenuRole(QAction::ApplicationSpecificRole);
  const QPointer<AppUpdater> updater(app ? app->updater() : nullptr);
  QObject::connect(check, &QAction::triggered, help, [updater] {
    if (updater) updater->checkForUpdates();
  });
  auto refresh = [check, updater] { check->setEnabled(updater && updater->canCheckForUpdates()); };
  if (updater) QObject::connect(updater, &AppUpdater::stateChanged, check, refresh);
  refresh();
}

}  // namespace

void install(QMainWindow* window, AppDelegate* app, BrowserModel* browser) {
  QMenuBar* bar = window->menuBar();
  const QPointer<AppDelegate> delegate(app);

  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  QAction* newScan = file->addAction(QStringLiteral("New Scan…"));
  newScan->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  QObject::connect(newScan, &QAction::triggered, window, [delegate] {
    if (delegate) delegate->showWelcome();
  });
  QAction* open = file->addAction(QStringLiteral("Open…"));
  open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  QObject::connect(open, &QAction::triggered, window, [delegate, window] {
    if (delegate) delegate->chooseSnapshot(window);
  });
  QMenu* recent = file->addMenu(QStringLiteral("Open Recent"));
  QObject::connect(recent, &QMenu::aboutToShow, recent, [recent, delegate] { fillRecent(recent, delegate); });
  fillRecent(recent, app);
  file->addSeparator();
  // The window's own file commands go here once a browser is known.
  QAction* closeSeparator = file->actions().back();
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

  if (!browser) {
    addHelp(bar, app);
    return;
  }
  const QPointer<BrowserModel> model(browser);
  QMenu* navigate = bar->addMenu(QStringLiteral("&Navigate"));
  std::vector<std::pair<QAction*, const BrowserCommand*>> items;
  for (const BrowserCommand& command : BrowserCommands::all()) {
    if (command.menu == BrowserCommand::Menu::none) continue;
    QMenu* menu = command.menu == BrowserCommand::Menu::file ? file : navigate;
    auto* action = new QAction(command.menuTitle, menu);
    menu->insertAction(menu == file ? closeSeparator : nullptr, action);
    QList<QKeySequence> keys;
    for (const QKeyCombination& key : command.keys) keys << QKeySequence(key);
    action->setShortcuts(keys);
    const BrowserCommand* which = &command;
    QObject::connect(action, &QAction::triggered, window, [model, which] {
      if (model) BrowserCommands::run(*which, *model);
    });
    items.emplace_back(action, which);
  }
  // The earlier snapshots of this place, listed when the menu opens (the list is made off
  // the main thread, so it may catch up a moment later; it is refreshed for the next time).
  QMenu* compareWith = navigate->addMenu(QStringLiteral("Compare With"));
  QObject::connect(compareWith, &QMenu::aboutToShow, compareWith, [compareWith, model] {
    compareWith->clear();
    if (!model) return;
    for (const SnapshotPaths::Listed& candidate : model->comparing().comparisonCandidates()) {
      const QString title = Format::abbreviatedDateTime(candidate.info.scanStart) + QStringLiteral(" — ") +
                            QString::fromStdString(PathText::abbreviateTilde(candidate.info.rootPath));
      QAction* item = compareWith->addAction(title);
      QObject::connect(item, &QAction::triggered, compareWith, [model, file = candidate.url] {
        if (model) model->comparing().compare(file);
      });
    }
    if (!compareWith->isEmpty()) compareWith->addSeparator();
    QAction* other = compareWith->addAction(QStringLiteral("Other Snapshot…"));
    QObject::connect(other, &QAction::triggered, compareWith, [model] {
      if (model) model->comparing().chooseComparison();
    });
    model->comparing().refreshCandidates();
  });
  // Enabled as the window's state allows, checked whenever something it depends on moves.
  auto refresh = [model, items, compareWith] {
    if (!model) return;
    for (const auto& [action, command] : items) action->setEnabled(command->isEnabled(*model));
    compareWith->setEnabled(model->tree() != nullptr);
  };
  for (auto signal :
       {&BrowserModel::treeChanged, &BrowserModel::currentChanged, &BrowserModel::selectionChanged})
    QObject::connect(browser, signal, window, refresh);
  for (auto signal : {&ComparisonModel::comparisonChanged, &ComparisonModel::candidatesChanged})
    QObject::connect(&browser->comparing(), signal, window, refresh);
  for (auto signal :
       {&DeleteList::marksChanged, &DeleteList::isTrashingChanged, &DeleteList::isEmptyingTrashChanged})
    QObject::connect(&browser->deleteList(), signal, window, refresh);
  refresh();
  addHelp(bar, app);
}

}  // namespace tallyfox::MenuBar
