#pragma once

#include <tallyfox/DiskTree.h>

#include <QByteArray>
#include <QObject>

#include <optional>

namespace tallyfox {

class BrowserModel;

// The actions that reach a node's file on disk (the selection's when no node is given):
// revealing, opening, copying it or its path, a terminal in a folder; and saving a copy of
// the snapshot. Each goes through the desktop services the window was given; a node whose
// path would lead elsewhere, or a remote snapshot's, beeps or does nothing.
class FileActions : public QObject {
  Q_OBJECT

 public:
  using OptionalNode = std::optional<NodeId>;

  explicit FileActions(BrowserModel& browser);

  void revealInFinder(OptionalNode node = std::nullopt);
  void openSelection(OptionalNode node = std::nullopt);
  void copyFileReference(OptionalNode node = std::nullopt);
  // The path as plain text ("c" and "y", "Copy Path").
  void copyPath(OptionalNode node = std::nullopt);
  // The last component of the path, and the path quoted for a shell.
  void copyName(OptionalNode node = std::nullopt);
  void copyPathForShell(OptionalNode node = std::nullopt);
  // A terminal in the folder (its exact bytes), started without a shell.
  void openInTerminal(const QByteArray& folder);
  // Asks where to save a copy of the snapshot (in the snapshots folder, under its standard
  // name), writes it off the main thread and makes it a recent document.
  void saveSnapshotAs();

 private:
  BrowserModel& browser_;
};

}  // namespace tallyfox
