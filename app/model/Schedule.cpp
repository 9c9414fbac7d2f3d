#include "model/Schedule.h"

#include "model/Background.h"
#include "model/Settings.h"

#include <tallyfox/AtomicFile.h>

#include <QPointer>

#include <exception>
#include <system_error>

namespace tallyfox {

namespace {

namespace fs = std::filesystem;

QString quoted(const fs::path& path) {
  return QStringLiteral("\u201C") + QString::fromStdString(path.string()) + QStringLiteral("\u201D");
}

// What systemctl said, for a sentence of ours.
QString said(const ServiceCommandResult& result) {
  const QString text = !result.error.isEmpty() ? result.error : result.output;
  return text.isEmpty() ? QStringLiteral("exit status %1").arg(result.exitCode) : text;
}

QString why(const QString& command, const ServiceCommandResult& result) {
  return QStringLiteral("systemctl --user %1 failed: %2").arg(command, said(result));
}

void removeUnits(const fs::path& folder) {
  std::error_code ignored;
  fs::remove(folder / ScheduleUnits::timerName, ignored);
  fs::remove(folder / ScheduleUnits::serviceName, ignored);
}

// Stops the timer and removes both units; the manager forgets them at the reload. The units
// go even when the manager cannot be reached, so that nothing is left to start later.
QString uninstall(UserServices& services, const fs::path& folder) {
  const ServiceCommandResult disabled =
      services.systemctl({QStringLiteral("disable"), QStringLiteral("--now"), ScheduleUnits::timerName});
  removeUnits(folder);
  services.systemctl({QStringLiteral("daemon-reload")});
  std::error_code error;
  if (fs::exists(folder / ScheduleUnits::timerName, error))
    return QStringLiteral("The timer %1 could not be removed.")
        .arg(quoted(folder / ScheduleUnits::timerName));
  // A timer the manager never knew needs no disabling.
  if (!disabled.succeeded() && !disabled.error.contains(QStringLiteral("not loaded")) &&
      !disabled.error.contains(QStringLiteral("does not exist")))
    return why(QStringLiteral("disable"), disabled);
  return {};
}

// Writes both units and starts the timer; on any failure nothing stays installed.
QString install(UserServices& services, const fs::path& folder, const std::string& service,
                const std::string& timer, bool restart) {
  try {
    fs::create_directories(folder);
    writeFileAtomically(folder / ScheduleUnits::serviceName, service);
    writeFileAtomically(folder / ScheduleUnits::timerName, timer);
  } catch (const std::system_error& e) {
    removeUnits(folder);
    return QStringLiteral("The schedule could not be written to %1: %2")
        .arg(quoted(folder), QString::fromStdString(e.code().message()));
  }
  const ServiceCommandResult reloaded = services.systemctl({QStringLiteral("daemon-reload")});
  if (!reloaded.succeeded()) {
    removeUnits(folder);
    return why(QStringLiteral("daemon-reload"), reloaded);
  }
  const ServiceCommandResult enabled =
      services.systemctl({QStringLiteral("enable"), QStringLiteral("--now"), ScheduleUnits::timerName});
  if (!enabled.succeeded()) {
    const QString error = why(QStringLiteral("enable --now"), enabled);
    uninstall(services, folder);
    return error;
  }
  // A running timer keeps the calendar it started with until it is started again.
  if (restart) services.systemctl({QStringLiteral("restart"), ScheduleUnits::timerName});
  return {};
}

}  // namespace

Schedule::Schedule(Settings& settings, std::shared_ptr<UserServices> services, std::optional<fs::path> tfscan,
                   std::optional<fs::path> unitFolder, QObject* parent)
    : QObject(parent),
      settings_(settings),
      services_(std::move(services)),
      tfscan_(std::move(tfscan)),
      unitFolder_(std::move(unitFolder)) {
  on_ = timerInstalled();
}

bool Schedule::timerInstalled() const {
  std::error_code error;
  return unitFolder_ && fs::exists(*unitFolder_ / ScheduleUnits::timerName, error);
}

void Schedule::checkAvailability() {
  if (!unitFolder_) {
    setAvailability(
        {Availability::Kind::unavailable, QStringLiteral("There is no home folder to keep a schedule in.")});
    return;
  }
  if (!tfscan_) {
    setAvailability({Availability::Kind::unavailable,
                     QStringLiteral("Scheduled snapshots are taken by tfscan, which is not installed beside "
                                    "Tallyfox or on the PATH.")});
    return;
  }
  if (!services_) {
    setAvailability({Availability::Kind::unavailable, QStringLiteral("No service manager is known here.")});
    return;
  }
  setAvailability({});
  Background::run(
      this,
      [services = services_] {
        const ServiceCommandResult state = services->systemctl({QStringLiteral("is-system-running")});
        // "degraded" (a unit failed) and "starting" still run timers; "offline" means no manager.
        Availability answer;
        if (!state.started) {
          answer = {Availability::Kind::unavailable,
                    QStringLiteral("systemctl could not be run (%1): scheduled snapshots need systemd.")
                        .arg(state.error)};
        } else if (state.output.isEmpty() || state.output == QLatin1String("offline") ||
                   state.output == QLatin1String("unknown")) {
          answer = {Availability::Kind::unavailable,
                    QStringLiteral(
                        "No systemd user instance runs in this session (%1), so Tallyfox cannot schedule "
                        "snapshots here.")
                        .arg(said(state))};
        } else {
          answer = {Availability::Kind::available, {}};
        }
        return answer;
      },
      [this](const Availability& answer) { setAvailability(answer); });
}

ScheduleUnits::Frequency Schedule::frequency() const {
  return ScheduleUnits::frequencyNamed(settings_.scheduleFrequency())
      .value_or(ScheduleUnits::Frequency::daily);
}

void Schedule::setFrequency(ScheduleUnits::Frequency value) {
  if (value == frequency()) return;
  settings_.setScheduleFrequency(std::string(ScheduleUnits::rawValue(value)));
  emit frequencyChanged();
  if (!on_ || !unitFolder_ || !tfscan_ || !services_) return;
  const auto service = ScheduleUnits::serviceText(*tfscan_);
  if (!service) return;
  runOff([services = services_, folder = *unitFolder_, service = *service,
          timer = ScheduleUnits::timerText(value)] {
    const QString error = install(*services, folder, service, timer, true);
    return Outcome{error.isEmpty(), error};
  });
}

void Schedule::setOn(bool value) {
  if (busy_ || !unitFolder_ || !services_) return;
  if (!value) {
    if (!on_) return;
    runOff([services = services_, folder = *unitFolder_] {
      const QString error = uninstall(*services, folder);
      std::error_code ignored;
      return Outcome{fs::exists(folder / ScheduleUnits::timerName, ignored), error};
    });
    return;
  }
  if (on_ || availability_.kind != Availability::Kind::available || !tfscan_) return;
  const auto service = ScheduleUnits::serviceText(*tfscan_);
  if (!service) {
    finish({false,
            QStringLiteral("tfscan's path %1 cannot be written into a systemd unit.").arg(quoted(*tfscan_))});
    return;
  }
  runOff([services = services_, folder = *unitFolder_, service = *service,
          timer = ScheduleUnits::timerText(frequency())] {
    const QString error = install(*services, folder, service, timer, false);
    return Outcome{error.isEmpty(), error};
  });
}

template <typename Work>
void Schedule::runOff(Work work) {
  setBusy(true);
  Background::run(this, std::move(work), [this](const Outcome& outcome) { finish(outcome); });
}

void Schedule::finish(const Outcome& outcome) {
  setBusy(false);
  if (error_ != outcome.error) {
    error_ = outcome.error;
    emit errorChanged();
  }
  if (on_ != outcome.on) {
    on_ = outcome.on;
    emit isOnChanged();
  }
}

void Schedule::setAvailability(Availability value) {
  if (availability_ == value) return;
  availability_ = std::move(value);
  emit availabilityChanged();
}

void Schedule::setBusy(bool value) {
  if (busy_ == value) return;
  busy_ = value;
  emit isBusyChanged();
}

}  // namespace tallyfox
