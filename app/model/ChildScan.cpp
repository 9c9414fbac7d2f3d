#include "model/ChildScan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tallyfox {

namespace {

QString lastLine(const QStringList& lines) {
  return lines.isEmpty() ? QString() : lines.last().trimmed();
}

// One word for any POSIX shell (sh, bash, zsh; fish and csh read it the same): single
// quotes, with each single quote inside closed, escaped and reopened.
QString shellQuoted(QString text) {
  text.replace(u'\'', QStringLiteral("'\\''"));
  return u'\'' + text + u'\'';
}

QString firstExisting(const QStringList& candidates) {
  for (const QString& path : candidates) {
    const QFileInfo info(path);
    if (info.isFile() && info.isExecutable()) return info.canonicalFilePath();
  }
  return {};
}

}  // namespace

namespace ChildScans {

QString tfscanProgram() {
  const QString here = QCoreApplication::applicationDirPath();
  // Installed, tfscan is beside the app; in a build folder it is in cli/.
  const QString found =
      firstExisting({here + QStringLiteral("/tfscan"), here + QStringLiteral("/../cli/tfscan"),
                     here + QStringLiteral("/../../cli/tfscan")});
  return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("tfscan")) : found;
}

QString askpassProgram() {
  const QString here = QCoreApplication::applicationDirPath();
  return firstExisting({here + QStringLiteral("/tallyfox-askpass"),
                        here + QStringLiteral("/../libexec/tallyfox/tallyfox-askpass"),
                        here + QStringLiteral("/../../app/tallyfox-askpass")});
}

ChildScan local(const QString& tfscan, const QString& path) {
  ChildScan scan;
  scan.program = tfscan;
  scan.arguments = {QStringLiteral("-o"), QStringLiteral("-"), QStringLiteral("--progress"), path};
  scan.place = path;
  scan.explain = [](int status, const QStringList& lines) {
    const QString line = lastLine(lines);
    return line.isEmpty() ? QStringLiteral("tfscan ended without a snapshot (exit status %1)").arg(status)
                          : line;
  };
  return scan;
}

QString remoteScript() {
  // No single quote may appear here: the script travels inside single quotes through the
  // host's login shell, whichever it is. Every program is started with exec, so that
  // nothing stands between the connection and the scan: when the connection goes, the
  // scan's next progress record finds its standard error closed and the scan ends.
  return QStringLiteral(
             "p=$1; "
             "case $p in \"~\") p=$HOME;; \"~/\"*) p=$HOME/${p#\"~/\"};; esac; "
             "case $p in /*) ;; *) p=$PWD/$p;; esac; "
             "if command -v tfscan >/dev/null 2>&1; then exec tfscan -o - --progress \"$p\"; fi; "
             "if command -v ncdu >/dev/null 2>&1; then exec ncdu -0 -x -o- \"$p\"; fi; "
             "if command -v gdu >/dev/null 2>&1; then exec gdu -n -x -o- \"$p\"; fi; "
             "echo \"%1\" >&2; exit 127")
      .arg(QString::fromLatin1(noScannerLine));
}

ChildScan overSsh(const SshTarget& target, const QString& path, const SshSetup& setup) {
  ChildScan scan;
  scan.program = setup.ssh;
  // -T: no terminal on the far side (a terminal would turn the stream's bytes into
  // something else); -x, -a and no forwardings: a scan needs none of what a config may ask
  // for a login. BatchMode stays as the person set it: the askpass helper asks them.
  scan.arguments = setup.options;
  scan.arguments << QStringLiteral("-T") << QStringLiteral("-x") << QStringLiteral("-a")
                 << QStringLiteral("-o") << QStringLiteral("ClearAllForwardings=yes");
  scan.arguments << target.destination();
  scan.arguments << QStringLiteral("/bin/sh -c ") + shellQuoted(remoteScript()) +
                        QStringLiteral(" tallyfox ") + shellQuoted(path);
  if (!setup.askpass.isEmpty()) {
    scan.environment.insert(QStringLiteral("SSH_ASKPASS"), setup.askpass);
    scan.environment.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
  }
  scan.place = RemoteSnapshots::displayPath(target.label, path);
  const QString host = target.label;
  scan.explain = [host](int status, const QStringList& lines) {
    if (status == 127 && lines.contains(QString::fromLatin1(noScannerLine)))
      return QStringLiteral("tfscan is not installed on %1 (nor ncdu or gdu)").arg(host);
    const QString line = lastLine(lines);
    // ssh's own failures (no connection, refused key, unknown host) end it with 255.
    if (status == 255)
      return line.isEmpty() ? QStringLiteral("Could not connect to %1").arg(host)
                            : QStringLiteral("Could not connect to %1: %2").arg(host, line);
    return line.isEmpty() ? QStringLiteral("The scan on %1 ended without a snapshot (exit status %2)")
                                .arg(host)
                                .arg(status)
                          : QStringLiteral("%1: %2").arg(host, line);
  };
  return scan;
}

std::variant<ChildScan, QString> asAdministrator(const QString& tfscan, const QString& pkexec) {
  const QString found = QFileInfo(pkexec).isAbsolute() ? pkexec : QStandardPaths::findExecutable(pkexec);
  if (found.isEmpty() || !QFileInfo(found).isExecutable())
    return QStringLiteral(
        "pkexec is not installed, so Tallyfox cannot ask for administrator rights "
        "(it comes with polkit)");
  if (tfscan.isEmpty()) return QStringLiteral("tfscan was not found beside Tallyfox");
  ChildScan scan;
  scan.program = found;
  // pkexec picks the polkit action whose exec.path is this program: the package installs
  // one for its own tfscan (io.quillon.Tallyfox.scan), and only that absolute path matches.
  scan.arguments = {tfscan, QStringLiteral("-o"), QStringLiteral("-"), QStringLiteral("--progress"),
                    QStringLiteral("/")};
  scan.place = QStringLiteral("/");
  scan.explain = [](int status, const QStringList& lines) {
    const QString all = lines.join(u'\n');
    // pkexec: 126 when the person dismissed the password dialog, 127 when it could not
    // get the rights at all.
    if (status == 126)
      return QStringLiteral("The administrator password was not given; nothing was scanned.");
    if (status == 127 && all.contains(QStringLiteral("authentication agent"), Qt::CaseInsensitive))
      return QStringLiteral(
          "No polkit authentication agent is running to ask for your password; "
          "log in to a desktop session that has one.");
    // Without polkitd, pkexec cannot even ask: "Error getting authority: ... Could not connect".
    if (all.contains(QStringLiteral("Error getting authority")) || all.contains(QStringLiteral("PolicyKit1")))
      return QStringLiteral(
          "polkit is not running on this system, so the scan cannot ask for administrator rights.");
    if (status == 127 && all.contains(QStringLiteral("Not authorized"), Qt::CaseInsensitive))
      return QStringLiteral("Not authorized to scan as administrator.");
    const QString line = lastLine(lines);
    return line.isEmpty()
               ? QStringLiteral("The scan as administrator ended without a snapshot (exit status %1)")
                     .arg(status)
               : line;
  };
  return scan;
}

}  // namespace ChildScans
}  // namespace tallyfox
