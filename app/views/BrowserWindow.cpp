#include "views/BrowserWindow.h"

#include "views/BrowserView.h"

namespace tallyfox {

BrowserWindow::BrowserWindow(const std::filesystem::path& file, Desktop desktop, QWidget* parent)
    : QMainWindow(parent), file_(file) {
  setAttribute(Qt::WA_DeleteOnClose);
  browser_ = new BrowserModel(file, std::move(desktop), this);
  view_ = new BrowserView(browser_, this);
  setCentralWidget(view_);
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

void BrowserWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!appeared_) {
    appeared_ = true;
    emit appeared();
  }
}

}  // namespace tallyfox
