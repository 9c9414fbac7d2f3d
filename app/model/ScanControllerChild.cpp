// The scan controller's scans that another process does: over SSH and as administrator.
#include "model/ScanController.h"

#include "model/Settings.h"
#include "model/StreamScanJob.h"

#include <variant>

namespace tallyfox {

void ScanController::scanRemote(const SshTarget& target, const QString& path) {
  ChildScans::SshSetup setup = sshSetup_;
  if (setup.askpass.isEmpty()) setup.askpass = ChildScans::askpassProgram();
  scanThrough(ChildScans::overSsh(target, path, setup),
              RemoteSnapshots::folderOf(settings_.snapshotsFolder(), target.label));
}

void ScanController::scanAsAdministrator() {
  if (phase_.isBusy()) return;
  auto scan = ChildScans::asAdministrator(ChildScans::tfscanProgram());
  if (const QString* why = std::get_if<QString>(&scan)) {
    setScanner(nullptr);
    setPhase(Phase::failed(*why));
    return;
  }
  scanThrough(std::get<ChildScan>(std::move(scan)), settings_.snapshotsFolder());
}

void ScanController::scanThrough(ChildScan scan, const std::filesystem::path& folder) {
  if (phase_.isBusy()) return;
  const QString place = scan.place;
  StreamScanJob* job = StreamScanJob::start(std::move(scan), folder);
  streamJob_ = job;
  setScanner(nullptr);
  setSpeedOverride(std::nullopt);
  setEntries(0);
  setStarted(job->started());
  setPhase(Phase::scanning(place));
  follow(job);
}

void ScanController::cancel() {
  if (job_) job_->cancel();
  if (streamJob_) streamJob_->cancel();
}

}  // namespace tallyfox
