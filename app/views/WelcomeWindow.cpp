#include "views/WelcomeWindow.h"

#include "views/AppDelegate.h"
#include "views/MenuBar.h"
#include "views/WelcomeView.h"

#include <QCloseEvent>

namespace tallyfox {

WelcomeWindow::WelcomeWindow(ScanController& scans, DocumentController& documents, AppDelegate* app,
                             QWidget* parent)
    : QMainWindow(parent), view_(new WelcomeView(scans, documents, this)) {
  setWindowTitle(QStringLiteral("Welcome to Tallyfox"));
  setAttribute(Qt::WA_DeleteOnClose);
  setCentralWidget(view_);
  MenuBar::install(this, app, nullptr);
  connect(view_, &WelcomeView::chooseFolderRequested, this, [app] {
    if (app) app->chooseFolder();
  });
  resize(sizeHint().expandedTo(QSize(780, 500)));
}

void WelcomeWindow::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted()) emit closed();
}

}  // namespace tallyfox
