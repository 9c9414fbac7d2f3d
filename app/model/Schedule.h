#pragma once

#include "model/ScheduleUnits.h"
#include "platform/UserServices.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace tallyfox {

class Settings;

// Scheduled snapshots as the settings window turns them on and off: the systemd user units
// that run `tfscan --scheduled`, installed in the user's unit folder and started, or stopped
// and removed. Process-wide, on the main thread; every command runs in the thread pool and
// reports back here. Which folders and what growth alerts are kept in Settings, where tfscan
// reads them at each run.
class Schedule : public QObject {
  Q_OBJECT

 public:
  struct Availability {
    enum class Kind { checking, available, unavailable };
    Kind kind = Kind::checking;
    QString reason;  // for unavailable: why, in a sentence
    bool operator==(const Availability&) const = default;
  };

  // `tfscan`: the program the service runs, absolute; nothing when it was not found.
  // `unitFolder`: where the units go (ScheduleUnits::userUnitFolder()).
  Schedule(Settings& settings, std::shared_ptr<UserServices> services,
           std::optional<std::filesystem::path> tfscan, std::optional<std::filesystem::path> unitFolder,
           QObject* parent = nullptr);

  // Asks whether a systemd user instance runs; until it answers, checking.
  void checkAvailability();
  const Availability& availability() const { return availability_; }

  // The timer is installed in the unit folder.
  bool isOn() const { return on_; }
  // Installs and starts the units, or stops and removes them. Turning on needs availability;
  // a failure leaves nothing installed and is told by error().
  void setOn(bool value);
  bool isBusy() const { return busy_; }
  // What went wrong the last time; empty after a success.
  const QString& error() const { return error_; }

  ScheduleUnits::Frequency frequency() const;
  // Stored, and written into the timer when it is on.
  void setFrequency(ScheduleUnits::Frequency value);

  const std::optional<std::filesystem::path>& unitFolder() const { return unitFolder_; }

 signals:
  void availabilityChanged();
  void isOnChanged();
  void isBusyChanged();
  void errorChanged();
  void frequencyChanged();

 private:
  struct Outcome {
    bool on = false;
    QString error;
  };
  // Runs `work` in the thread pool, one at a time, and takes its outcome back here.
  template <typename Work>
  void runOff(Work work);
  void finish(const Outcome& outcome);
  void setAvailability(Availability value);
  void setBusy(bool value);
  bool timerInstalled() const;

  Settings& settings_;
  std::shared_ptr<UserServices> services_;
  std::optional<std::filesystem::path> tfscan_;
  std::optional<std::filesystem::path> unitFolder_;
  Availability availability_;
  bool on_ = false;
  bool busy_ = false;
  QString error_;
};

}  // namespace tallyfox
