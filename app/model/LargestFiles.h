#pragma once

#include "model/SubtreeQuery.h"

#include <tallyfox/DiskTree.h>

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace tallyfox {

class BrowserModel;

// The largest files anywhere below a folder (SubtreeStats::largestFiles). The rows are
// entries of the window's tree, so they take the list's actions by node id.
class LargestFiles : public SubtreeQuery {
  Q_OBJECT

 public:
  static constexpr std::size_t limit = 1000;

  explicit LargestFiles(BrowserModel& browser);

  // Opens the view on `folder` (the current folder when absent) and starts the pass.
  void show(std::optional<NodeId> folder = std::nullopt);
  bool isFinding() const { return isPassing(); }
  // Largest first, without the files moved to the Trash since.
  std::vector<NodeId> files() const;

  // "The 1,000 largest of 2,345,678 entries", "3 files", "No files".
  QString summary() const;
  // The file's folder relative to the scope, "" when the file lies directly in it.
  QString folderOf(NodeId file) const;
  // Leaves the view for the list, in the file's folder with the file selected.
  void showInList(NodeId file);

 private:
  void clearAnswer() override { files_.clear(); }

  std::vector<NodeId> files_;
};

}  // namespace tallyfox
