#pragma once

#include "model/SshTarget.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <variant>

namespace tallyfox {

// A scan that another process does and streams back: tfscan here, tfscan (or ncdu, or gdu)
// on another machine over the person's own ssh, or tfscan as root through pkexec. The
// process writes the snapshot (or an export) on its standard output and, while it scans,
// progress records (ProgressRecord) on its standard error; StreamScanJob reads both.
struct ChildScan {
  QString program;
  QStringList arguments;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  // The place as shown while it is scanned: "/", "HOST:/srv".
  QString place;
  // What a failed run means, from its exit status and the lines it wrote on standard error
  // that were not progress records (the last few, oldest first).
  std::function<QString(int exitStatus, const QStringList& errorLines)> explain;
};

namespace ChildScans {

// The helper programs that come with the app, beside it or in the package's libexec folder,
// else (tfscan) on PATH. Empty when not found.
QString tfscanProgram();
QString askpassProgram();

// tfscan on this machine, as the same user.
ChildScan local(const QString& tfscan, const QString& path);

// How the person's ssh is run: the program, options before the destination (a test's own
// "-F config"), and the askpass helper that asks for passphrases, passwords and whether to
// trust an unknown host key.
struct SshSetup {
  QString ssh = QStringLiteral("ssh");
  QStringList options;
  QString askpass;
};

// tfscan at `path` on `target`, or ncdu or gdu there when it has no tfscan. One connection:
// the far side's shell looks for the programs and runs the first it finds.
ChildScan overSsh(const SshTarget& target, const QString& path, const SshSetup& setup);
// The shell script that does it, run by /bin/sh on the host with the path as $1.
QString remoteScript();
// The line the script writes on standard error when the host has none of the three.
inline constexpr const char* noScannerLine = "tallyfox: no scanner";

// tfscan as root over the whole disk, through pkexec under the app's own polkit action.
// The reason instead when pkexec is not installed.
std::variant<ChildScan, QString> asAdministrator(const QString& tfscan,
                                                 const QString& pkexec = QStringLiteral("pkexec"));

}  // namespace ChildScans
}  // namespace tallyfox
