#include "PrivateBus.h"

namespace testsupport {

namespace {

// No <servicedir>: nothing is started on demand, whatever the machine has installed.
constexpr const char* configuration =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

}  // namespace

PrivateBus::PrivateBus() : daemon_(std::make_unique<QProcess>()) {
  const auto config = dir_ / "bus.conf";
  const QString socket = QString::fromStdString((dir_ / "bus").string());
  writeFile(config,
            QString::fromLatin1(configuration).replace(QStringLiteral("@SOCKET@"), socket).toStdString());
  daemon_->start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                  QStringLiteral("--config-file=") + QString::fromStdString(config.string()),
                  QStringLiteral("--address=unix:path=") + socket});
  if (!daemon_->waitForStarted()) {
    why_ = QStringLiteral("dbus-daemon could not be started: ") + daemon_->errorString();
    return;
  }
  // It prints its address once it listens.
  while (!daemon_->canReadLine() && daemon_->waitForReadyRead(10000)) {
  }
  address_ = QString::fromLocal8Bit(daemon_->readLine()).trimmed();
  if (address_.isEmpty())
    why_ = QStringLiteral("dbus-daemon did not start listening: ") +
           QString::fromLocal8Bit(daemon_->readAllStandardError());
}

PrivateBus::~PrivateBus() {
  if (daemon_->state() == QProcess::NotRunning) return;
  daemon_->terminate();
  if (!daemon_->waitForFinished(5000)) {
    daemon_->kill();
    daemon_->waitForFinished();
  }
}

}  // namespace testsupport
