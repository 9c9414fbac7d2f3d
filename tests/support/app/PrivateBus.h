#pragma once

#include "TestSupport.h"

#include <QProcess>
#include <QString>

#include <memory>

namespace testsupport {

// A D-Bus session bus of the test's own: a dbus-daemon started on a socket in a temporary
// folder, with no services of its own (so only the test's fakes answer there), stopped at the
// end. Reached through QDBusConnection::connectToBus(address(), name) and by child
// processes through DBUS_SESSION_BUS_ADDRESS.
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // Empty when the daemon could not be started; why() says why.
  const QString& address() const { return address_; }
  const QString& why() const { return why_; }

 private:
  TempDir dir_;
  std::unique_ptr<QProcess> daemon_;
  QString address_;
  QString why_;
};

}  // namespace testsupport
