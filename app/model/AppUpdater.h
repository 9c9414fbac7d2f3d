#pragma once

#include "model/UpdaterDriver.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace tallyfox {

class DocumentController;
class ScanController;

// Keeps the app up to date through its driver, without getting in the way: a downloaded
// version is installed only once the person has left the computer alone for ten minutes
// while nothing long runs (a whole scan, a partial scan, a duplicate search or a
// replacement by clones), or else when the app quits. Created once for the app; lives on
// the main thread.
class AppUpdater : public QObject, private UpdaterDriver::Listener {
  Q_OBJECT

 public:
  // Seconds since the person last used keyboard or mouse.
  using IdleSeconds = std::function<double()>;
  // One line for the system log; the "[Tallyfox] " prefix is added here.
  using Log = std::function<void(const QString& line)>;

  static constexpr double idleSecondsToInstall = 600;
  static constexpr std::chrono::milliseconds idleCheckInterval{5000};

  AppUpdater(std::unique_ptr<UpdaterDriver> driver, ScanController& scans, DocumentController& documents,
             IdleSeconds idleSeconds, Log log, QObject* parent = nullptr);
  ~AppUpdater() override;

  // Starts the driver and looks for an update; once only. A driver that fails to start is
  // logged, and the app goes on without updates.
  void start();
  bool isStarted() const { return started_; }
  // A downloaded version waits to be installed.
  bool isUpdateWaiting() const { return static_cast<bool>(install_); }
  // "Check for Updates…": only with a running driver and nothing waiting already.
  bool canCheckForUpdates() const { return started_ && !isUpdateWaiting(); }
  void checkForUpdates();

  // The repeating check while an update waits; installs when the person is idle long
  // enough and no long work runs.
  void installIfIdle();
  bool isIdleCheckRunning() const { return idleCheck_.isActive(); }
  // Whole scans, partial scans, duplicate searches and replacements by clones.
  bool isLongWorkRunning() const;
  // The app is ending: a waiting update is installed once it has.
  void installAtQuit();

  // For tests, which cannot wait five seconds a check.
  void setIdleCheckInterval(std::chrono::milliseconds interval) { idleCheck_.setInterval(interval); }

 signals:
  // isStarted(), isUpdateWaiting() or canCheckForUpdates() may have changed.
  void stateChanged();

 private:
  void updateFound(const QString& version) override;
  void updateReady(const QString& version, UpdaterDriver::Install install) override;
  void updateCycleFailed(const UpdaterDriver::Error& error) override;
  void log(const QString& line) const;
  bool isPartialScanRunning() const;
  void onMainThread(std::function<void()> work);

  std::unique_ptr<UpdaterDriver> driver_;
  ScanController& scans_;
  DocumentController& documents_;
  IdleSeconds idleSeconds_;
  Log log_;
  bool started_ = false;
  UpdaterDriver::Install install_;
  QTimer idleCheck_;
};

}  // namespace tallyfox
