#include "platform/UserServices.h"

#include <QProcess>

namespace tallyfox {

namespace {

// systemctl answers at once, or after starting a unit; a manager that hangs longer is stuck.
constexpr int commandTimeoutMs = 60000;

class SystemdUserServices : public UserServices {
 public:
  ServiceCommandResult systemctl(const QStringList& arguments) override {
    QProcess process;
    process.start(QStringLiteral("systemctl"), QStringList{QStringLiteral("--user")} + arguments);
    ServiceCommandResult result;
    if (!process.waitForStarted()) {
      result.error = process.errorString();
      return result;
    }
    result.started = true;
    if (!process.waitForFinished(commandTimeoutMs)) {
      process.kill();
      process.waitForFinished();
      result.error = QStringLiteral("systemctl did not answer within a minute");
      return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    result.error = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return result;
  }
};

}  // namespace

std::shared_ptr<UserServices> UserServices::systemd() {
  return std::make_shared<SystemdUserServices>();
}

}  // namespace tallyfox
