#pragma once

#include "model/Background.h"
#include "model/SubtreeQuery.h"

#include <tallyfox/DiskTree.h>
#include <tallyfox/SubtreeStats.h>

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace tallyfox {

class BrowserModel;

// The file types view: bytes and files per kind of file below a folder; and, once a kind is
// chosen there, that kind picked out in the list and the chart (everything else faded) until
// the choice is cleared or the window leaves the folder the view was opened on (its folders
// below keep it). The picking out is one more pass, over the whole tree.
class FileTypes : public SubtreeQuery {
  Q_OBJECT

 public:
  using Choice = SubtreeStats::TypeChoice;

  explicit FileTypes(BrowserModel& browser);

  // Opens the view on `folder` (the current folder when absent) and counts below it.
  void show(std::optional<NodeId> folder = std::nullopt);
  bool isCounting() const { return isPassing(); }
  const SubtreeStats::FileTypes& totals() const { return totals_; }

  // "12.5 GB in 34,567 files", "Counting 1,234,567 entries…", "No files".
  QString summary() const;
  // "Video", ".mkv", "(no extension)".
  static QString label(const Choice& choice);

  // Picks the kind out in the list and the chart, and closes the view.
  void choose(const Choice& choice);
  void clearChoice();
  const std::optional<Choice>& chosen() const { return chosen_; }
  // The chosen kind's picking out is known (its pass has finished).
  bool isHighlightReady() const { return !highlight_.files.empty(); }
  // Whether the list and the chart show `node` in full: with no choice everything; with one,
  // a file of the kind and a folder holding some of its bytes (faded until the pass is done).
  bool isHighlighted(NodeId node) const;
  // The bytes of the chosen kind in `node`'s subtree.
  std::uint64_t chosenBytes(NodeId node) const;

 signals:
  void chosenChanged();

 private:
  void clearAnswer() override { totals_ = {}; }

  SubtreeStats::FileTypes totals_;

  std::optional<Choice> chosen_;
  // Where the kind was chosen: the picking out is about this folder.
  std::optional<NodeId> chosenIn_;
  SubtreeStats::Matching highlight_;
  Background::Lane highlightLane_;
};

}  // namespace tallyfox
