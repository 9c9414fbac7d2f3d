#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace tallyfox {

// What one `systemctl --user` command answered.
struct ServiceCommandResult {
  bool started = false;  // false: systemctl could not be run at all
  int exitCode = -1;
  QString output;
  QString error;
  bool succeeded() const { return started && exitCode == 0; }
};

// The user's service manager, as scheduled snapshots reach it. Each call waits for its
// command, so it runs off the UI thread; calls from several threads are safe.
class UserServices {
 public:
  virtual ~UserServices() = default;
  // Runs `systemctl --user ARGUMENTS`.
  virtual ServiceCommandResult systemctl(const QStringList& arguments) = 0;

  // systemd's own manager of this user.
  static std::shared_ptr<UserServices> systemd();
};

}  // namespace tallyfox
