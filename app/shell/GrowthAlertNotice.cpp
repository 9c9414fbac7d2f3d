#include "shell/GrowthAlertNotice.h"

#include "platform/Notifications.h"

namespace tallyfox {

GrowthAlertNotice::GrowthAlertNotice(GrowthAlert alert, Notifications& notifications, int patienceMs,
                                     QObject* parent)
    : QObject(parent), alert_(std::move(alert)), notifications_(notifications) {
  patience_.setSingleShot(true);
  patience_.setInterval(patienceMs);
  connect(&patience_, &QTimer::timeout, this, &GrowthAlertNotice::finish);
  connect(&notifications_, &Notifications::actionInvoked, this, [this](quint32 id, const QString& action) {
    if (id != id_ || action != QLatin1String(Notifications::defaultActionKey)) return;
    requested_ = SingleInstance::Comparison{alert_.snapshot,
                                            alert_.previous.value_or(std::filesystem::path()), alert_.folder};
    // Answered: some servers keep it on screen after its action.
    notifications_.close(id);
    finish();
  });
  connect(&notifications_, &Notifications::closed, this, [this](quint32 id) {
    if (id == id_) finish();
  });
}

bool GrowthAlertNotice::send(QString* error) {
  id_ = notifications_.notify({alert_.summary, alert_.body, QStringLiteral("Show Changes")}, error);
  if (!id_) return false;
  patience_.start();
  return true;
}

void GrowthAlertNotice::finish() {
  if (finished_) return;
  finished_ = true;
  patience_.stop();
  emit finished();
}

}  // namespace tallyfox
