#include "model/AppUpdater.h"

#include "model/BrowserModel.h"
#include "model/PartialScans.h"

#include "model/DocumentController.h"
#include "model/ScanController.h"

#include <QThread>

namespace tallyfox {

AppUpdater::AppUpdater(std::unique_ptr<UpdaterDriver> driver, ScanController& scans,
                       DocumentController& documents, IdleSeconds idleSeconds, Log log, QObject* parent)
    : QObject(parent),
      driver_(std::move(driver)),
      scans_(scans),
      documents_(documents),
      idleSeconds_(std::move(idleSeconds)),
      log_(std::move(log)) {
  idleCheck_.setInterval(idleCheckInterval);
  connect(&idleCheck_, &QTimer::timeout, this, &AppUpdater::installIfIdle);
}

AppUpdater::~AppUpdater() = default;

void AppUpdater::start() {
  if (started_ || !driver_) return;
  if (const std::optional<QString> error = driver_->start(*this)) {
    log(QStringLiteral("Updater failed to start: ") + *error);
    return;
  }
  started_ = true;
  emit stateChanged();
  driver_->checkInBackground();
}

void AppUpdater::checkForUpdates() {
  if (canCheckForUpdates()) driver_->checkInBackground();
}

void AppUpdater::updateFound(const QString& version) {
  onMainThread([this, version] { log(QStringLiteral("Downloading update ") + version); });
}

void AppUpdater::updateReady(const QString& version, UpdaterDriver::Install install) {
  onMainThread([this, version, install = std::move(install)]() mutable {
    log(QStringLiteral("Update %1 ready; waiting for idle or quit").arg(version));
    // A newer download replaces the one waiting, and its wait starts afresh.
    install_ = std::move(install);
    idleCheck_.start();
    emit stateChanged();
  });
}

void AppUpdater::updateCycleFailed(const UpdaterDriver::Error& error) {
  if (error.noUpdateAvailable) return;
  onMainThread([this, description = error.description] {
    log(QStringLiteral("Update failed: ") + description);
    idleCheck_.stop();
    const bool wasWaiting = isUpdateWaiting();
    install_ = {};
    if (wasWaiting) emit stateChanged();
  });
}

void AppUpdater::installIfIdle() {
  if (!install_) return;
  const double idle = idleSeconds_ ? idleSeconds_() : 0;
  if (idle < idleSecondsToInstall) return;
  if (isLongWorkRunning()) return;
  log(QString::asprintf("Idle %.0f min with no scan: installing update", idle / 60));
  idleCheck_.stop();
  // Taken first: the installation ends the app, and nothing may install it a second time.
  const UpdaterDriver::Install install = std::exchange(install_, {});
  emit stateChanged();
  install(true);
}

bool AppUpdater::isLongWorkRunning() const {
  return scans_.phase().isBusy() || isPartialScanRunning() || documents_.isDuplicatesWorkRunning();
}

bool AppUpdater::isPartialScanRunning() const {
  for (const BrowserModel* browser : documents_.browsers())
    if (browser->partialScans().isRunning()) return true;
  return false;
}

void AppUpdater::installAtQuit() {
  if (!install_) return;
  idleCheck_.stop();
  const UpdaterDriver::Install install = std::exchange(install_, {});
  install(false);
}

void AppUpdater::log(const QString& line) const {
  if (log_) log_(QStringLiteral("[Tallyfox] ") + line);
}

void AppUpdater::onMainThread(std::function<void()> work) {
  if (QThread::currentThread() == thread())
    work();
  else
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

}  // namespace tallyfox
