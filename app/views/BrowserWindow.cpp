#include "views/BrowserWindow.h"

#include "model/Comparison.h"
#include "model/OutsideModel.h"
#include "views/BrowserView.h"
#include "views/RequestDialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

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
  connect(&browser_->outside(), &OutsideModel::outsidePathChanged, this, &BrowserWindow::refreshTitle);
  // Another snapshot of the same minute, found a moment later, adds the seconds.
  for (auto signal : {&ComparisonModel::candidatesChanged, &ComparisonModel::comparisonChanged})
    connect(&browser_->comparing(), signal, this, &BrowserWindow::refreshTitle);
  refreshTitle();
  fitToScreen();
  // The list and the chart take every press for themselves, so the buttons are caught on
  // their way to any widget of this window.
  qApp->installEventFilter(this);
}

bool BrowserWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::MouseButtonPress || !watched->isWidgetType()) return false;
  const auto* press = static_cast<QMouseEvent*>(event);
  if (press->button() != Qt::BackButton && press->button() != Qt::ForwardButton) return false;
  if (static_cast<QWidget*>(watched)->window() != this) return false;
  if (press->button() == Qt::BackButton)
    browser_->goBack();
  else
    browser_->goForward();
  return true;
}

namespace {

// The window manager's frame is known only once a window is on screen: until then the
// frame of a window already shown stands in for it, else a title bar and thin borders.
QMargins expectedFrame(const QWidget* window) {
  if (const QWindow* handle = window->windowHandle(); handle && handle->isVisible())
    return handle->frameMargins();
  for (QWidget* other : QApplication::topLevelWidgets()) {
    if (other == window || !other->isVisible() || other->windowType() != Qt::Window) continue;
    const QRect frame = other->frameGeometry(), inner = other->geometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
  }
  return {4, 32, 4, 4};
}

QScreen* screenForNewWindow(const QWidget* window) {
  if (window->isVisible()) return window->screen();
  // A new window appears where the pointer is, on most desktops.
  if (QScreen* underPointer = QGuiApplication::screenAt(QCursor::pos())) return underPointer;
  return QGuiApplication::primaryScreen();
}

}  // namespace

void BrowserWindow::fitToScreen(std::optional<QSize> wanted) {
  const QScreen* screen = screenForNewWindow(this);
  if (!screen) {
    resize(wanted.value_or(defaultSize));
    return;
  }
  const QSize room = screen->availableGeometry().size().shrunkBy(expectedFrame(this)).expandedTo(QSize(1, 1));
  // The menu bar keeps its height; the view gives way inside what is left.
  const int menuHeight = menuWidget() ? menuWidget()->sizeHint().height() : 0;
  view_->limitMinimumSize(QSize(room.width(), std::max(1, room.height() - menuHeight)));
  if (layout()) layout()->activate();
  const QSize minimum = minimumSizeHint().boundedTo(room);
  setMinimumSize(minimum);
  resize(wanted.value_or(defaultSize).boundedTo(room).expandedTo(minimum));
}

QSize BrowserWindow::sizeToRemember() const {
  if (isMaximized() || isFullScreen()) return normalGeometry().size();
  return size();
}

void BrowserWindow::closeEvent(QCloseEvent* event) {
  emit closing();
  QMainWindow::closeEvent(event);
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
