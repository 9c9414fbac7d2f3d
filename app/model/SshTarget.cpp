#include "model/SshTarget.h"

#include "model/Background.h"

#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/SshConfig.h>

#include <QRegularExpression>

namespace tallyfox {

namespace {

bool isNameCharacter(QChar c) {
  return c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_' || c == u'%';
}

bool fail(QString* why, const QString& reason) {
  if (why) *why = reason;
  return false;
}

// A user or host part: letters, digits and the few marks names use, no white space or
// shell or path characters (ssh takes them as they are, but a folder is named after them).
bool isPlainName(const QString& part) {
  if (part.isEmpty()) return false;
  for (const QChar c : part)
    if (!isNameCharacter(c)) return false;
  return true;
}

bool splitPort(const QString& text, QString& host, std::optional<int>& port, QString* why) {
  QString portText;
  if (text.startsWith(u'[')) {
    const qsizetype close = text.indexOf(u']');
    if (close < 0) return fail(why, QStringLiteral("“]” is missing after the address"));
    host = text.mid(1, close - 1);
    const QString after = text.mid(close + 1);
    if (!after.isEmpty() && !after.startsWith(u':'))
      return fail(why, QStringLiteral("Only “:PORT” may follow “]”"));
    portText = after.mid(1);
    if (after.isEmpty()) return true;
    static const QRegularExpression address(QStringLiteral("^[0-9A-Fa-f:.]+$"));
    if (!address.match(host).hasMatch()) return fail(why, QStringLiteral("“%1” is not an address").arg(host));
  } else {
    const qsizetype colon = text.indexOf(u':');
    host = colon < 0 ? text : text.left(colon);
    if (colon < 0) return true;
    portText = text.mid(colon + 1);
  }
  bool ok = false;
  const int value = portText.toInt(&ok);
  if (!ok || value < 1 || value > 65535 || portText.startsWith(u'+'))
    return fail(why, QStringLiteral("“%1” is not a port number").arg(portText));
  port = value;
  return true;
}

}  // namespace

std::optional<SshTarget> SshTarget::parse(const QString& text, QString* why) {
  SshTarget target;
  target.label = text.trimmed();
  if (target.label.isEmpty()) {
    fail(why, QStringLiteral("Type the name of a host"));
    return std::nullopt;
  }
  QString rest = target.label;
  const qsizetype at = rest.lastIndexOf(u'@');
  if (at >= 0) {
    target.user = rest.left(at);
    rest = rest.mid(at + 1);
    if (!isPlainName(target.user) || target.user.startsWith(u'-')) {
      fail(why, QStringLiteral("“%1” is not a user name").arg(target.user));
      return std::nullopt;
    }
  }
  if (!splitPort(rest, target.host, target.port, why)) return std::nullopt;
  const bool isAddress = rest.startsWith(u'[');
  // ssh reads a destination that begins with "-" as an option.
  if (target.host.isEmpty() || target.host.startsWith(u'-') || target.host.startsWith(u'.') ||
      (!isAddress && !isPlainName(target.host))) {
    fail(why, QStringLiteral("“%1” is not a host name").arg(target.host));
    return std::nullopt;
  }
  return target;
}

QStringList SshTarget::destination() const {
  QStringList words;
  if (port) words << QStringLiteral("-p") << QString::number(*port);
  words << (user.isEmpty() ? host : user + u'@' + host);
  return words;
}

void SshTarget::readAliases(QObject* receiver, std::function<void(std::vector<std::string>)> take) {
  Background::run(
      receiver,
      [] {
        return SshConfig::hostAliases(std::filesystem::path(PathText::homeDirectory()) / ".ssh" / "config");
      },
      std::move(take));
}

namespace RemoteSnapshots {

std::filesystem::path hostsFolder(const std::filesystem::path& snapshotsFolder) {
  return snapshotsFolder / "hosts";
}

std::filesystem::path folderOf(const std::filesystem::path& snapshotsFolder, const QString& host) {
  return hostsFolder(snapshotsFolder) / host.toStdString();
}

std::optional<QString> hostOf(const std::filesystem::path& file,
                              const std::filesystem::path& snapshotsFolder) {
  const std::filesystem::path folder = file.lexically_normal().parent_path();
  if (folder.parent_path() != hostsFolder(snapshotsFolder).lexically_normal()) return std::nullopt;
  const std::string host = folder.filename().string();
  if (host.empty() || host == "." || host == "..") return std::nullopt;
  return QString::fromStdString(host);
}

QString displayPath(const std::optional<QString>& host, const QString& path) {
  return host ? *host + u':' + path : path;
}

}  // namespace RemoteSnapshots
}  // namespace tallyfox
