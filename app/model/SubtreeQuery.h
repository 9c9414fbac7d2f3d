#pragma once

#include "model/Background.h"

#include <tallyfox/DiskTree.h>

#include <QObject>
#include <QString>

#include <optional>
#include <utility>

namespace tallyfox {

class BrowserModel;

// A view of the files below one folder, shown in the window's centre in place of the chart and
// the list until Escape or "Done": the largest files, the file types. Its answer is one pass
// over the folder's subtree in the thread pool, taken only while the view still asks about
// the same folder of the same tree; another tree (a switch, a rescan) closes it.
class SubtreeQuery : public QObject {
  Q_OBJECT

 public:
  bool isOpen() const { return scope_.has_value(); }
  std::optional<NodeId> scope() const { return scope_; }
  // The pass is running.
  bool isPassing() const { return passing_; }
  // "Done" or Escape: a pass still running is stopped and its answer dropped.
  void close();

  // "Largest files in ~/Projects".
  QString title() const;

 signals:
  void openChanged();
  // The answer arrived, or what its rows show changed.
  void changed();

 protected:
  SubtreeQuery(BrowserModel& browser, QString titleStart);

  // Opens the view on `folder` (the current folder when absent) and runs `pass(tree, scope,
  // stop)` in the pool; `take(answer)` keeps its answer. Needs a loaded tree and a folder of it.
  template <typename Pass, typename Take>
  void open(std::optional<NodeId> folder, Pass pass, Take take);
  // Forgets the answer, on opening and on closing.
  virtual void clearAnswer() = 0;

  BrowserModel& browser_;

 private:
  // The tree and folder of a pass that may start, with the view opened on them.
  std::optional<std::pair<DiskTreePtr, NodeId>> begin(std::optional<NodeId> folder);

  QString titleStart_;
  std::optional<NodeId> scope_;
  bool passing_ = false;
  Background::Lane lane_;
};

template <typename Pass, typename Take>
void SubtreeQuery::open(std::optional<NodeId> folder, Pass pass, Take take) {
  const auto target = begin(folder);
  if (!target) return;
  Background::run(
      this, lane_,
      [tree = target->first, scope = target->second,
       pass = std::move(pass)](const Background::StopFlag& stop) { return pass(*tree, scope, stop); },
      [this, take = std::move(take)](auto answer) mutable {
        take(std::move(answer));
        passing_ = false;
        emit changed();
      });
}

}  // namespace tallyfox
