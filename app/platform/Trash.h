#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace tallyfox {

// What emptying every trash of the user came to.
struct EmptyingReport {
  // Trash folders left as they were because emptying them could reach outside them (a
  // symbolic link where a folder belongs, a folder of another user, a shared .Trash without
  // the sticky bit): "path: why", one each.
  QStringList refused;
  // The first thing that could not be deleted in the trash folders that were emptied.
  std::optional<QString> error;
  bool operator==(const EmptyingReport&) const = default;
};

// The user's Trash, as the desktop's file managers keep it: the home trash and one per
// mounted volume.
class Trash {
 public:
  virtual ~Trash() = default;
  // Moves the file or folder at `path` (absolute, exact bytes) into the trash of its mount.
  // Returns the reason when it stays where it is.
  virtual std::optional<QString> moveToTrash(const QByteArray& path) = 0;
  // Deletes everything in every trash of the user. Blocks for as long as that takes: callers
  // run it off the main thread. Goes on past a failure or a refused trash folder.
  virtual EmptyingReport empty() = 0;
  // Deletes the file or folder at `path` at once, for an item no trash takes. Links in
  // `base`, the folder the item was found below, are followed as the user gave them; none
  // below it, and nothing on another mount inside the item is touched. Blocks; returns the
  // first failure.
  virtual std::optional<QString> deletePermanently(const QByteArray& path, const QByteArray& base) = 0;

  static std::shared_ptr<Trash> system();
};

// The freedesktop.org trash, done here: Qt cannot empty it, and its move loses names that
// are not UTF-8.
namespace FreedesktopTrash {

// $XDG_DATA_HOME/Trash, by default ~/.local/share/Trash; empty without a home folder.
std::filesystem::path homeTrash();
// Every trash folder of this user that is there: the home trash first, then each mounted
// volume's .Trash/$uid and .Trash-$uid. Listed even when they may not be used, so that
// emptying can say which it refused.
std::vector<std::filesystem::path> folders();

// How emptying one trash folder went: refused (and untouched) with the reason, or emptied
// with the first failure, if any.
struct FolderResult {
  std::optional<QString> refused;
  std::optional<QString> error;
  bool operator==(const FolderResult&) const = default;
};
// Empties one trash folder: files/X goes before info/X.trashinfo (an interrupted run leaves
// no entry the file managers would show without its file), then what is left in files/ and
// info/, expunged/ and the cached directorysizes. Folders are made writable on the way. The
// folder, files/ and info/ must be real folders of this user, and a shared .Trash above a
// real folder with the sticky bit; otherwise nothing is touched. No link is followed below
// the folder, and no mount inside it is entered.
FolderResult emptyFolder(const std::filesystem::path& trash);
// Empties the folders one by one and adds up what came of it.
EmptyingReport emptyFolders(const std::vector<std::filesystem::path>& trashes);
// The move itself: into the home trash when the item is on the home trash's mount, else into
// its own mount's .Trash/$uid or .Trash-$uid; an info file made exclusively under a free
// name, then a rename into files/.
std::optional<QString> moveToTrash(const QByteArray& path);

}  // namespace FreedesktopTrash

}  // namespace tallyfox
