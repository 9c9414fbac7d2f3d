#pragma once

#include <tallyfox/DiskTree.h>

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tallyfox {

class BrowserModel;

// The largest files anywhere below a folder, shown in the window's centre in place of the
// chart and the list until Escape or "Done". One pass over the folder's subtree in the
// thread pool (SubtreeStats::largestFiles); its answer comes back to the main thread only
// while this object lives and the view still asks about the same folder. The rows are
// entries of the window's tree, so they take the list's actions by node id.
class LargestFiles : public QObject {
  Q_OBJECT

 public:
  static constexpr std::size_t limit = 1000;

  explicit LargestFiles(BrowserModel& browser);
  ~LargestFiles() override;

  // Opens the view on `folder` (the current folder when absent) and starts the pass. Needs a
  // loaded tree and a folder of it.
  void show(std::optional<NodeId> folder = std::nullopt);
  // "Done" or Escape: a pass still running is stopped and its answer dropped.
  void close();

  bool isOpen() const { return scope_.has_value(); }
  std::optional<NodeId> scope() const { return scope_; }
  bool isFinding() const { return finding_; }
  // Largest first, without the files moved to the Trash since.
  std::vector<NodeId> files() const;

  // "Largest files in ~/Projects".
  QString title() const;
  // "The 1,000 largest of 2,345,678 entries", "3 files", "No files".
  QString summary() const;
  // The file's folder relative to the scope, "" when the file lies directly in it.
  QString folderOf(NodeId file) const;
  // Leaves the view for the list, in the file's folder with the file selected.
  void showInList(NodeId file);

 signals:
  void openChanged();
  // The answer arrived, or the sizes or the delete list changed what the rows show.
  void changed();

 private:
  void finish(unsigned pass, std::vector<NodeId> files);

  BrowserModel& browser_;
  std::optional<NodeId> scope_;
  std::vector<NodeId> files_;
  bool finding_ = false;
  // The pass whose answer is awaited; an older one's is dropped.
  unsigned pass_ = 0;
  std::shared_ptr<std::atomic<bool>> stop_;
};

}  // namespace tallyfox
