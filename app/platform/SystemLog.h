#pragma once

class QString;

namespace tallyfox::SystemLog {

// One line to the system log (syslog), as "tallyfox" from the user facility. The app keeps
// no log file of its own; the few lines it writes are for whoever looks after the machine.
void write(const QString& line);

}  // namespace tallyfox::SystemLog
