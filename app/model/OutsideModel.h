#pragma once

#include "model/Background.h"

#include <tallyfox/DiskTree.h>

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tallyfox {

class BrowserModel;

// One entry of a folder on disk that a window lists beside its snapshot: the folders around
// the snapshot's root, and what a partial scan left out of a folder. Paths are bytes.
struct OutsideEntry {
  enum class Relation { scannedRoot, containsScan, notScanned };

  std::string name;
  std::string path;
  // The entry itself, a symbolic link not followed.
  bool isDirectory = false;
  // Allocated bytes (512-byte blocks × 512) of anything but a folder.
  std::optional<std::uint64_t> fileSize;
  Relation relation = Relation::notScanned;

  bool operator==(const OutsideEntry&) const = default;
};

// The outside view: the real folders above a snapshot's root, listed straight from the disk,
// with what the snapshot covers marked, and the entries a partial scan left out of the
// current folder. Owned by the browser model; the listings are read in the thread pool and
// arrive with `entriesChanged` and `unscannedChanged`.
class OutsideModel : public QObject {
  Q_OBJECT

 public:
  explicit OutsideModel(BrowserModel& browser);
  ~OutsideModel() override;

  // The folder shown, absent while the window shows the snapshot itself.
  const std::optional<std::string>& outsidePath() const { return outsidePath_; }
  bool isShown() const { return outsidePath_.has_value(); }
  // The full path of the selected entry.
  const std::optional<std::string>& outsideSelection() const { return outsideSelection_; }
  void setOutsideSelection(const std::optional<std::string>& value);

  // Shows a folder outside the snapshot, recording history so that Back returns inside.
  void showOutside(const std::string& path);
  // Shows the parent folder with the folder just left selected; beeps at "/".
  void goUpOutside();
  void moveOutside(int delta);
  // The snapshot's root goes back inside, a folder that leads to it is shown, a folder that
  // is not scanned is selected; a file does nothing.
  void openOutside(const OutsideEntry& entry);
  // Back into the snapshot, at its root (what the root entry and "Back into" do).
  void backInside();
  // Forgets the outside folder without moving: the browser model's own moves call this.
  void leave();

  // The listing of `outsidePath`, sorted; empty until it has been read.
  const std::vector<OutsideEntry>& outsideEntries() const { return entries_; }
  // The entries of the current folder that its snapshot lacks, when the tree marks the folder
  // partial; empty otherwise and until read.
  const std::vector<OutsideEntry>& unscannedEntries() const { return unscanned_; }
  // Every folder above the snapshot's root, from "/" down to the root's parent.
  std::vector<std::string> outsideAncestors() const;
  // The snapshot's root, canonical; empty without a tree or for a tree without a root path.
  std::string canonicalRoot() const;

  // Reading a folder from disk, as the two listings do; what cannot be read is left out.
  static std::vector<OutsideEntry> list(const std::string& folder, const std::string& canonicalRoot);
  static std::vector<OutsideEntry> listUnscanned(const std::string& folder,
                                                 const std::set<std::string>& scanned);
  // The longest run of leading components two absolute paths share, as a path ("/" for none).
  static std::string commonAncestor(const std::string& a, const std::string& b);
  // The parent folder of an absolute path; "/" for "/".
  static std::string parentOf(const std::string& path);

 signals:
  void outsidePathChanged();
  void outsideSelectionChanged();
  void entriesChanged();
  void unscannedChanged();

 private:
  void setOutsidePath(const std::optional<std::string>& value);
  void readEntries();
  void readUnscanned();

  BrowserModel& browser_;
  std::optional<std::string> outsidePath_;
  std::optional<std::string> outsideSelection_;
  std::vector<OutsideEntry> entries_;
  std::vector<OutsideEntry> unscanned_;
  // Which listing is current: a listing that arrives after another was asked for is dropped.
  Background::Lane entriesLane_;
  Background::Lane unscannedLane_;
};

}  // namespace tallyfox
