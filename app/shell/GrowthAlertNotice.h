#pragma once

#include "model/GrowthAlert.h"
#include "shell/SingleInstance.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace tallyfox {

class Notifications;

// The one notification of a growth alert, from sending to its end: clicked (the comparison
// is then asked for), closed, or left unanswered for `patience`.
class GrowthAlertNotice : public QObject {
  Q_OBJECT
 public:
  // A day: a person away from the computer still finds it.
  static constexpr int defaultPatienceMs = 24 * 60 * 60 * 1000;

  GrowthAlertNotice(GrowthAlert alert, Notifications& notifications, int patienceMs = defaultPatienceMs,
                    QObject* parent = nullptr);

  // Sends it; false, with the reason in `error`, when no server took it.
  bool send(QString* error = nullptr);
  // What a click asked to see; nothing before one, or when it was closed unanswered.
  const std::optional<SingleInstance::Comparison>& requested() const { return requested_; }

 signals:
  void finished();

 private:
  void finish();

  GrowthAlert alert_;
  Notifications& notifications_;
  QTimer patience_;
  std::optional<quint32> id_;
  std::optional<SingleInstance::Comparison> requested_;
  bool finished_ = false;
};

}  // namespace tallyfox
