#include "views/WelcomeWindow.h"

#include "views/WelcomeView.h"

#include <QCloseEvent>

namespace tallyfox {

WelcomeWindow::WelcomeWindow(ScanController& scans, DocumentController& documents, Settings& settings,
                             QWidget* parent)
    : QMainWindow(parent), view_(new WelcomeView(scans, documents, settings, this)) {
  setWindowTitle(QStringLiteral("Welcome to Tallyfox"));
  setAttribute(Qt::WA_DeleteOnClose);
  setCentralWidget(view_);
  connect(view_, &WelcomeView::chooseFolderRequested, this, &WelcomeWindow::chooseFolderRequested);
  connect(view_, &WelcomeView::remoteFolderRequested, this, &WelcomeWindow::remoteFolderRequested);
  resize(sizeHint().expandedTo(QSize(780, 500)));
}

void WelcomeWindow::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted()) emit closed();
}

}  // namespace tallyfox
