#include "platform/IdleTime.h"

#include <QtGui/qguiapplication_platform.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEvent>
#include <QGuiApplication>

#include <cstdlib>
#include <optional>

namespace tallyfox {

namespace {

std::optional<double> x11IdleSeconds();

bool isInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
      return true;
    default:
      return false;
  }
}

}  // namespace

IdleTime::IdleTime(QObject* parent) : QObject(parent), lastInput_(std::chrono::steady_clock::now()) {
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

IdleTime::~IdleTime() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

double IdleTime::seconds() {
  if (const auto x11 = x11IdleSeconds()) return *x11;
  if (mutterAbsent_) return secondsInApp();
  std::optional<double> recent;
  if (mutterSeconds_ && std::chrono::steady_clock::now() - mutterAskedAt_ <= answerLife)
    recent = mutterSeconds_;
  const bool failed = mutterFailed_;
  askMutter();
  if (recent) return *recent;
  if (failed || mutterAbsent_) return secondsInApp();
  // The monitor is there, or may be, and its answer is on the way: the app's own count could
  // say "away" while the person types in another app, so until then they count as present.
  return 0;
}

// GNOME Shell on Wayland; other compositors offer no common way to ask.
void IdleTime::askMutter() {
  if (mutterQuestion_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    mutterAbsent_ = true;
    return;
  }
  const QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
      QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
  questionSentAt_ = std::chrono::steady_clock::now();
  mutterQuestion_ = new QDBusPendingCallWatcher(bus.asyncCall(call, int(answerWithin.count())), this);
  connect(mutterQuestion_, &QDBusPendingCallWatcher::finished, this, &IdleTime::mutterAnswered);
}

void IdleTime::mutterAnswered(QDBusPendingCallWatcher* answer) {
  answer->deleteLater();
  mutterQuestion_ = nullptr;
  const QDBusPendingReply<qulonglong> reply = *answer;
  if (reply.isError()) {
    mutterSeconds_.reset();
    mutterFailed_ = true;
    if (reply.error().type() == QDBusError::ServiceUnknown) mutterAbsent_ = true;
    return;
  }
  mutterSeconds_ = reply.value() / 1000.0;
  mutterAskedAt_ = questionSentAt_;
  mutterFailed_ = false;
}

double IdleTime::secondsInApp() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - lastInput_).count();
}

bool IdleTime::eventFilter(QObject* watched, QEvent* event) {
  if (isInput(event->type())) lastInput_ = std::chrono::steady_clock::now();
  return QObject::eventFilter(watched, event);
}

}  // namespace tallyfox

// Xlib's headers define macros (KeyPress, None, Bool ...) that clash with Qt's names, so
// they come last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace tallyfox {
namespace {

std::optional<double> x11IdleSeconds() {
  // Under a Wayland session an X11 connection goes to Xwayland, which sees only the input
  // to X11 windows: the person could be typing elsewhere while it counts them as away.
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland && *wayland) return std::nullopt;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display) return std::nullopt;
  int eventBase = 0, errorBase = 0;
  if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase)) return std::nullopt;
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  if (!info) return std::nullopt;
  std::optional<double> seconds;
  if (XScreenSaverQueryInfo(display, DefaultRootWindow(display), info)) seconds = info->idle / 1000.0;
  XFree(info);
  return seconds;
}

}  // namespace
}  // namespace tallyfox
