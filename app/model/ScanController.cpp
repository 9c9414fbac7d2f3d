#include "model/ScanController.h"

#include "model/DocumentController.h"
#include "model/Settings.h"
#include "model/StreamScanJob.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <filesystem>

namespace tallyfox {

ScanController::ScanController(DocumentController& documents, Settings& settings, QObject* parent)
    : QObject(parent), documents_(documents), settings_(settings) {}

ScanController::~ScanController() {
  // A scan still running has nobody to report to; let it end early.
  if (job_) job_->cancel();
  if (streamJob_) streamJob_->cancel();
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
  // scan reads, so there is nothing to ask for and the banner asking for access stays hidden.
  return true;
}

void ScanController::scan(const QString& root) {
  scan(std::filesystem::path(root.toStdString()));
}

void ScanController::scan(const std::filesystem::path& root) {
  if (phase_.isBusy()) return;
  const std::string path = root.string();
  const ScanSpeed speed = settings_.scanSpeed();
  const std::filesystem::path folder = settings_.snapshotsFolder();
  // A scan whose snapshot could not be saved is not begun: it would be lost at its end.
  try {
    checkWritable(SnapshotsFolder::newSnapshotPath(folder, path, std::chrono::system_clock::now()));
  } catch (const std::exception& e) {
    setScanner(nullptr);
    setPhase(Phase::failed(QString::fromStdString(e.what())));
    return;
  }
  ScanOptions options(threads(speed), /*oneFileSystem=*/true, ignoredFoldersFromEnvironment(), {}, {}, speed);
  auto write = [folder, path](SnapshotBuilderSink& sink, const SnapshotFile::Info& header) {
    const auto url = SnapshotsFolder::newSnapshotPath(folder, path, header.scanStart);
    SnapshotFile::write(sink.finishArranged(), header, url);
    return url;
  };
  ScanJob* job = ScanJob::start(path, std::move(options), std::move(write));
  job_ = job;
  setScanner(job->scanner());
  setSpeedOverride(std::nullopt);
  setEntries(0);
  setStarted(job->started());
  setPhase(Phase::scanning(QString::fromUtf8(path)));
  follow(job);
}

// The same reporting for both kinds of job: their signals are alike by design.
void ScanController::follow(QObject* job) {
  auto finished = [this](const ScanJob::Outcome& outcome) {
    // A cancelled scan's scanner stays until the next scan replaces it: it still answers
    // whether it was cancelled.
    if (outcome.cancelled) {
      setPhase(Phase::idle());
      return;
    }
    setScanner(nullptr);
    if (!outcome.written) {
      setPhase(Phase::failed(outcome.error));
      return;
    }
    setPhase(Phase::idle());
    documents_.openDocument(*outcome.written);
  };
  if (auto* local = qobject_cast<ScanJob*>(job)) {
    connect(local, &ScanJob::entriesChanged, this, &ScanController::setEntries);
    connect(local, &ScanJob::saving, this, [this] { setPhase(Phase::saving()); });
    connect(local, &ScanJob::finished, this, finished);
  } else if (auto* streamed = qobject_cast<StreamScanJob*>(job)) {
    connect(streamed, &StreamScanJob::entriesChanged, this, &ScanController::setEntries);
    connect(streamed, &StreamScanJob::saving, this, [this] { setPhase(Phase::saving()); });
    connect(streamed, &StreamScanJob::finished, this, finished);
  }
}

ScanSpeed ScanController::speed() const {
  return speedOverride_ ? *speedOverride_ : settings_.scanSpeed();
}

void ScanController::setSpeed(ScanSpeed value) {
  setSpeedOverride(value);
  if (job_) job_->setSpeed(value);
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
