#include "views/BrowserWindow.h"

#include "views/BrowserView.h"
#include "views/RequestDialogs.h"

#include <QEvent>

namespace tallyfox {

BrowserWindow::BrowserWindow(BrowserModel* browser, QWidget* parent)
    : QMainWindow(parent), file_(browser->fileURL().value_or(std::filesystem::path())), browser_(browser) {
  setUp();
}

BrowserWindow::BrowserWindow(const std::filesystem::path& file, Desktop desktop, QWidget* parent)
    : QMainWindow(parent), file_(file), browser_(new BrowserModel(file, std::move(desktop), this)) {
  setUp();
}

void BrowserWindow::setUp() {
  setAttribute(Qt::WA_DeleteOnClose);
  view_ = new BrowserView(browser_, this);
  setCentralWidget(view_);
  answerRequests(browser_->requests(), this);
  for (auto signal : {&BrowserModel::stateChanged, &BrowserModel::treeChanged, &BrowserModel::currentChanged})
    connect(browser_, signal, this, &BrowserWindow::refreshTitle);
  refreshTitle();
  resize(1180, 760);
}

QString BrowserWindow::titleFor(const BrowserModel& browser) {
  const QString subtitle = browser.windowSubtitle();
  return subtitle.isEmpty() ? browser.windowTitle()
                            : browser.windowTitle() + QStringLiteral(" — ") + subtitle;
}

void BrowserWindow::refreshTitle() {
  const QString title = titleFor(*browser_);
  if (windowTitle() != title) setWindowTitle(title);
}

bool BrowserWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) emit activated();
  return QMainWindow::event(event);
}

void BrowserWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!appeared_) {
    appeared_ = true;
    emit appeared();
  }
}

}  // namespace tallyfox
