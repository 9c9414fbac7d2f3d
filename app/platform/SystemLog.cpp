#include "platform/SystemLog.h"

#include <QByteArray>
#include <QString>

#include <syslog.h>

namespace tallyfox::SystemLog {

void write(const QString& line) {
  // openlog keeps the pointer, so the name must live as long as the process.
  static const bool opened = [] {
    ::openlog("tallyfox", LOG_PID, LOG_USER);
    return true;
  }();
  (void)opened;
  const QByteArray text = line.toUtf8();
  ::syslog(LOG_NOTICE, "%s", text.constData());
}

}  // namespace tallyfox::SystemLog
