#include "model/ScanController.h"

#include "model/DocumentController.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <QCoreApplication>
#include <QPointer>
#include <QtConcurrent>

#include <exception>
#include <filesystem>

namespace tallyfox {

namespace {

template <typename Work>
void onMainThread(Work work) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

}  // namespace

ScanController::ScanController(DocumentController& documents, Settings& settings, QObject* parent)
    : QObject(parent), documents_(documents), settings_(settings) {
  poll_.setInterval(pollInterval);
  poll_.setTimerType(Qt::PreciseTimer);
  connect(&poll_, &QTimer::timeout, this, &ScanController::pollProgress);
}

ScanController::~ScanController() {
  // A scan still running has nobody to report to; let it end early.
  if (scanner_) scanner_->cancel();
}

const std::vector<ScanController::Preset>& ScanController::presets() {
  static const std::vector<Preset> list = [] {
    const QString home = QString::fromStdString(PathText::homeDirectory());
    auto inHome = [&](const char* name) {
      return QString::fromStdString(PathText::appendComponent(home.toStdString(), name));
    };
    return std::vector<Preset>{
        {"disk", "Whole Disk", "Everything on the root volume", "drive-harddisk", "/"},
        {"home", "Home", "~", "user-home", home},
        {"caches", "Caches", "~/.cache", "package-x-generic", inHome(".cache")},
        {"downloads", "Downloads", "~/Downloads", "folder-download", inHome("Downloads")},
    };
  }();
  return list;
}

bool ScanController::hasFullDiskAccess() {
  // Linux has no per-app grant for reading other apps' data: what the user can read, a
  // scan reads. The probe of a protected mail folder that other systems need finds nothing
  // to test here (that folder does not exist on Linux), so the banner asking for access
  // stays hidden.
  return true;
}

void ScanController::scan(const QString& root) {
  if (phase_.isBusy()) return;
  const std::string path = root.toStdString();
  const ScanSpeed speed = settings_.scanSpeed();
  const std::filesystem::path folder = settings_.snapshotsFolder();
  auto sink = std::make_shared<SnapshotBuilderSink>();
  ScanOptions options(threads(speed), /*oneFileSystem=*/true, ignoredFoldersFromEnvironment(), {}, {}, speed);
  auto scanner = std::make_shared<Scanner>(path, std::move(options), sink);
  setScanner(scanner);
  setSpeedOverride(std::nullopt);
  setEntries(0);
  const Clock::time_point start = Clock::now();
  setStarted(start);
  setPhase(Phase::scanning(root));

  const QPointer<ScanController> self(this);
  (void)QtConcurrent::run([self, scanner, sink, path, start, folder] {
    std::optional<std::filesystem::path> written;
    QString failure;
    try {
      const ScanStats stats = scanner->run();
      if (scanner->isCancelled()) {
        onMainThread([self] {
          if (self) self->setPhase(Phase::idle());
        });
        return;
      }
      onMainThread([self] {
        if (self) self->setPhase(Phase::saving());
      });
      const ArrangedColumns columns = sink->finishArranged();
      const auto url = SnapshotsFolder::newSnapshotPath(folder, path, start);
      SnapshotFile::write(columns, {path, start, stats.seconds}, url);
      written = url;
    } catch (const std::exception& e) {
      failure = QString::fromStdString(e.what());
      if (failure.isEmpty()) failure = QStringLiteral("The scan failed.");
    }
    onMainThread([self, written, failure] {
      if (!self) return;
      self->setScanner(nullptr);
      if (!written) {
        self->setPhase(Phase::failed(failure));
        return;
      }
      self->setPhase(Phase::idle());
      self->documents_.openDocument(*written);
    });
  });
  poll_.start();
}

void ScanController::pollProgress() {
  if (phase_.kind != Phase::Kind::scanning || !scanner_) {
    poll_.stop();
    return;
  }
  setEntries(scanner_->progressEntries());
}

ScanSpeed ScanController::speed() const {
  return speedOverride_ ? *speedOverride_ : settings_.scanSpeed();
}

void ScanController::setSpeed(ScanSpeed value) {
  setSpeedOverride(value);
  if (scanner_ && phase_.kind == Phase::Kind::scanning) scanner_->setSpeed(value);
}

void ScanController::setPhase(const Phase& value) {
  if (phase_ == value) return;
  phase_ = value;
  emit phaseChanged();
}

void ScanController::setEntries(quint64 value) {
  if (entries_ == value) return;
  entries_ = value;
  emit entriesChanged();
}

void ScanController::setStarted(Clock::time_point value) {
  if (started_ == value) return;
  started_ = value;
  emit startedChanged();
}

void ScanController::setScanner(std::shared_ptr<Scanner> value) {
  if (scanner_ == value) return;
  scanner_ = std::move(value);
  emit scannerChanged();
}

void ScanController::setSpeedOverride(std::optional<ScanSpeed> value) {
  if (speedOverride_ == value) return;
  speedOverride_ = value;
  emit speedOverrideChanged();
}

}  // namespace tallyfox
