#include "shell/MenuBar.h"

#include "model/BrowserModel.h"
#include "model/DocumentController.h"
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
  QAction* close = file->addAction(QStringLiteral("Close"));
  close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
  QObject::connect(close, &QAction::triggered, window, &QWidget::close);
  file->addSeparator();
  QAction* quit = file->addAction(QStringLiteral("Quit"));
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  quit->setMenuRole(QAction::QuitRole);
  QObject::connect(quit, &QAction::triggered, window, [delegate] {
    if (delegate)
      delegate->quit();
    else
      QApplication::quit();
  });

  if (!browser) return;
  const QPointer<BrowserModel> model(browser);
  QMenu* navigate = bar->addMenu(QStringLiteral("&Navigate"));
  auto add = [&](const QString& title, QList<QKeySequence> keys, void (BrowserModel::*operation)()) {
    QAction* action = navigate->addAction(title);
    action->setShortcuts(keys);
    QObject::connect(action, &QAction::triggered, window, [model, operation] {
      if (model) (model.data()->*operation)();
    });
    return action;
  };
  add(QStringLiteral("Back"),
      {QKeySequence(Qt::CTRL | Qt::Key_BracketLeft), QKeySequence(Qt::ALT | Qt::Key_Left)},
      &BrowserModel::goBack);
  add(QStringLiteral("Forward"),
      {QKeySequence(Qt::CTRL | Qt::Key_BracketRight), QKeySequence(Qt::ALT | Qt::Key_Right)},
      &BrowserModel::goForward);
  add(QStringLiteral("Enclosing Folder"), {QKeySequence(Qt::CTRL | Qt::Key_Up)}, &BrowserModel::goUp);
  add(QStringLiteral("Enter Folder"), {QKeySequence(Qt::CTRL | Qt::Key_Down)}, &BrowserModel::enter);
}

}  // namespace tallyfox::MenuBar
