#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace tallyfox {

// The user's Trash, as the desktop's file managers keep it: the home trash and one per
// mounted volume.
class Trash {
 public:
  virtual ~Trash() = default;
  // Moves the file or folder at `path` (absolute, exact bytes) into the trash of its volume.
  // Returns the reason when it stays where it is.
  virtual std::optional<QString> moveToTrash(const QByteArray& path) = 0;
  // Deletes everything in every trash of the user. Blocks for as long as that takes: callers
  // run it off the main thread. Goes on past a failure; returns the first one's text.
  virtual std::optional<QString> empty() = 0;

  static std::shared_ptr<Trash> system();
};

// The freedesktop.org trash, done here: Qt cannot empty it, and its move loses names that
// are not UTF-8.
namespace FreedesktopTrash {

// $XDG_DATA_HOME/Trash, by default ~/.local/share/Trash.
std::filesystem::path homeTrash();
// Every trash folder of this user that exists: the home trash first, then each mounted
// volume's .Trash/$uid (in a sticky, real .Trash folder) or .Trash-$uid.
std::vector<std::filesystem::path> folders();
// Empties one trash folder: files/X goes before info/X.trashinfo (an interrupted run leaves
// no entry the file managers would show without its file), then what is left in files/ and
// info/, expunged/ and the cached directorysizes. Folders are made writable on the way.
std::optional<QString> emptyFolder(const std::filesystem::path& trash);
// The move itself: an info file made exclusively under a free name, then a rename into
// files/. The item must be on the same volume as the trash it goes to.
std::optional<QString> moveToTrash(const QByteArray& path);

}  // namespace FreedesktopTrash

}  // namespace tallyfox
