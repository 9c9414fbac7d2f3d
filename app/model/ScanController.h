#pragma once

#include "model/ChildScan.h"
#include "model/ScanJob.h"
#include "model/SshTarget.h"

#include <tallyfox/Scanner.h>

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace tallyfox {

class DocumentController;
class Settings;

// The application's one runner of whole scans: scans a folder in the background, writes the
// result as a new snapshot into the snapshots folder and asks for it to be opened. Lives on
// the main thread; progress is polled from the scanner five times a second.
class ScanController : public QObject {
  Q_OBJECT

 public:
  struct Phase {
    enum class Kind { idle, scanning, failed, saving };
    Kind kind = Kind::idle;
    QString text;  // the root while scanning, the error's description when failed

    static Phase idle() { return {}; }
    static Phase scanning(QString root) { return {Kind::scanning, std::move(root)}; }
    static Phase failed(QString message) { return {Kind::failed, std::move(message)}; }
    static Phase saving() { return {Kind::saving, {}}; }
    bool isBusy() const { return kind == Kind::scanning || kind == Kind::saving; }
    bool operator==(const Phase&) const = default;
  };

  // A scan target offered by the start window and the tray menu.
  struct Preset {
    QString id, title, detail, symbol, path;
    bool operator==(const Preset&) const = default;
  };

  using Clock = std::chrono::system_clock;
  static constexpr std::chrono::milliseconds pollInterval = ScanJob::pollInterval;

  // Scans at the speed and into the folder of `settings`; finished snapshots are opened
  // through `documents`.
  ScanController(DocumentController& documents, Settings& settings, QObject* parent = nullptr);
  ~ScanController() override;

  // Whole disk, home, caches and downloads, resolved against the home folder once.
  static const std::vector<Preset>& presets();
  // Whether folders the system protects can be read; nothing on Linux protects them.
  static bool hasFullDiskAccess();

  // Starts a whole scan of `root` as the user chose it; ignored while one runs or saves.
  void scan(const QString& root);
  // The same for a folder named by its bytes, which need not be UTF-8.
  void scan(const std::filesystem::path& root);

  // Scans done by another process and streamed back (ChildScan), shown as a whole scan is:
  // `path` on `target` over the person's ssh, into the host's folder of the snapshots
  // folder; the whole disk as administrator through pkexec. The speed is the far side's.
  void scanRemote(const SshTarget& target, const QString& path);
  void scanAsAdministrator();
  // Any ChildScan, its snapshot saved in `folder`.
  void scanThrough(ChildScan scan, const std::filesystem::path& folder);
  // How ssh is run; tests give their own configuration and askpass helper.
  void setSshSetup(ChildScans::SshSetup setup) { sshSetup_ = std::move(setup); }
  // Stops the running scan, in-process or streamed, without saving.
  void cancel();
  // Whether the running scan can change speed (a streamed one runs at the far side's).
  bool canChangeSpeed() const { return !job_.isNull(); }

  const Phase& phase() const { return phase_; }
  quint64 entries() const { return entries_; }
  Clock::time_point started() const { return started_; }
  // The running scan; cancel() on it stops the scan without saving.
  const std::shared_ptr<Scanner>& scanner() const { return scanner_; }
  std::optional<ScanSpeed> speedOverride() const { return speedOverride_; }
  void setSpeedOverride(std::optional<ScanSpeed> value);
  // The override, else the saved preference. Setting it changes the running scan at once.
  ScanSpeed speed() const;
  void setSpeed(ScanSpeed value);

 signals:
  void phaseChanged();
  void entriesChanged();
  void startedChanged();
  void scannerChanged();
  void speedOverrideChanged();

 private:
  void setPhase(const Phase& value);
  void setEntries(quint64 value);
  void setStarted(Clock::time_point value);
  void setScanner(std::shared_ptr<Scanner> value);

  DocumentController& documents_;
  Settings& settings_;
  Phase phase_;
  quint64 entries_ = 0;
  Clock::time_point started_{};
  std::shared_ptr<Scanner> scanner_;
  std::optional<ScanSpeed> speedOverride_;
  void follow(QObject* job);

  QPointer<ScanJob> job_;
  QPointer<class StreamScanJob> streamJob_;
  ChildScans::SshSetup sshSetup_;
};

}  // namespace tallyfox
