#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace tallyfox {

// Desktop notifications through the notification server of the session
// (org.freedesktop.Notifications). Lives on the main thread.
class Notifications : public QObject {
  Q_OBJECT
 public:
  struct Message {
    QString summary;
    QString body;  // plain text; escaped where the server reads markup
    // The label of the action a click on the notification runs; none: no action.
    QString defaultAction;
  };

  // On Qt's D-Bus connection of that name; the session bus when it is empty.
  explicit Notifications(QString connectionName = {}, QObject* parent = nullptr);

  // Shows the message and answers its id; nothing, with the reason in `error`, when no
  // server took it. Waits for the server's answer (at most a few seconds).
  std::optional<quint32> notify(const Message& message, QString* error = nullptr);

  // Takes a notification sent through this object off the screen.
  void close(quint32 id);

  static constexpr const char* defaultActionKey = "default";

 signals:
  // For notifications sent through this object only.
  void actionInvoked(quint32 id, const QString& action);
  void closed(quint32 id, quint32 reason);

 private slots:
  void onActionInvoked(quint32 id, const QString& action);
  void onClosed(quint32 id, quint32 reason);

 private:
  QString connectionName_;
  QList<quint32> sent_;
  bool listening_ = false;
};

}  // namespace tallyfox
