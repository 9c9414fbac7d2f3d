#include "platform/Notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QVariantMap>

namespace tallyfox {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
constexpr int notificationAnswerWithinMs = 5000;

}  // namespace

Notifications::Notifications(QString connectionName, QObject* parent)
    : QObject(parent), connectionName_(std::move(connectionName)) {}

std::optional<quint32> Notifications::notify(const Message& message, QString* error) {
  QDBusConnection bus =
      connectionName_.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(connectionName_);
  const auto fail = [error](const QString& why) -> std::optional<quint32> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (!bus.isConnected()) return fail(QStringLiteral("There is no session bus to send the notification on."));
  // Signals first, so that an answer to a quick click is not missed. D-Bus signals can only
  // be connected by their slots' names.
  if (!listening_) {
    listening_ = bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                             SLOT(onActionInvoked(quint32, QString))) &&
                 bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                             SLOT(onClosed(quint32, quint32)));
  }

  // A server that reads markup would take "<" and "&" in a folder's name as markup.
  const QDBusReply<QStringList> capabilities =
      bus.call(QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities")),
               QDBus::Block, notificationAnswerWithinMs);
  if (!capabilities.isValid())
    return fail(QStringLiteral("No notification server answered: ") + capabilities.error().message());
  const bool markup = capabilities.value().contains(QStringLiteral("body-markup"));
  const bool actions = capabilities.value().contains(QStringLiteral("actions"));

  QStringList actionList;
  if (!message.defaultAction.isEmpty() && actions)
    actionList << QString::fromLatin1(defaultActionKey) << message.defaultAction;
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("io.quillon.Tallyfox"));
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
  QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
  call << QStringLiteral("Tallyfox") << quint32(0) << QStringLiteral("io.quillon.Tallyfox") << message.summary
       << (markup ? message.body.toHtmlEscaped() : message.body) << actionList << hints << qint32(-1);
  const QDBusReply<quint32> id = bus.call(call, QDBus::Block, notificationAnswerWithinMs);
  if (!id.isValid())
    return fail(QStringLiteral("The notification server refused the notification: ") + id.error().message());
  sent_ << id.value();
  return id.value();
}

void Notifications::close(quint32 id) {
  if (!sent_.contains(id)) return;
  QDBusConnection bus =
      connectionName_.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(connectionName_);
  // Not waited for: the server closes it or it was gone already.
  bus.call(QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("CloseNotification"))
               << id,
           QDBus::NoBlock);
}

void Notifications::onActionInvoked(quint32 id, const QString& action) {
  if (sent_.contains(id)) emit actionInvoked(id, action);
}

void Notifications::onClosed(quint32 id, quint32 reason) {
  if (sent_.removeAll(id) > 0) emit closed(id, reason);
}

}  // namespace tallyfox
