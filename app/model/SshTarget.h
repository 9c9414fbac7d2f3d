#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tallyfox {

// A machine to scan over SSH, as the person typed it: an alias of their ssh configuration,
// a name or an address, with an optional user ("alice@server") and port ("server:2222",
// "[::1]:2222"). The text as typed is its name everywhere in Tallyfox: the folder its
// snapshots are saved in and the "HOST:/path" shown for them.
struct SshTarget {
  QString label;
  QString user;
  QString host;
  std::optional<int> port;

  // The target, or the reason the text cannot name one. A text that ssh would read as an
  // option, or that could not be a folder's name, is refused.
  static std::optional<SshTarget> parse(const QString& text, QString* why = nullptr);
  // What follows the options on ssh's command line: "-p PORT" when given, then
  // "USER@HOST" or "HOST".
  QStringList destination() const;

  bool operator==(const SshTarget&) const = default;

  // The host aliases of the person's ~/.ssh/config, offered for typing, read in the thread
  // pool (a home folder on a network disk must not hold up a window) and handed to `take` on
  // the main thread while `receiver` lives.
  static void readAliases(QObject* receiver, std::function<void(std::vector<std::string>)> take);
};

// Where remote snapshots live and how the app tells them apart: a remote snapshot is any
// snapshot file in `SNAPSHOTS/hosts/HOST/`. Nothing in the file says so; the format is the
// same whoever scanned.
namespace RemoteSnapshots {

std::filesystem::path hostsFolder(const std::filesystem::path& snapshotsFolder);
std::filesystem::path folderOf(const std::filesystem::path& snapshotsFolder, const QString& host);
// The host of a snapshot file, or nothing for a local one.
std::optional<QString> hostOf(const std::filesystem::path& file,
                              const std::filesystem::path& snapshotsFolder);
// "HOST:/path" for a remote place, the path alone for a local one.
QString displayPath(const std::optional<QString>& host, const QString& path);

}  // namespace RemoteSnapshots
}  // namespace tallyfox
