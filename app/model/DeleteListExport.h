#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>

namespace tallyfox {

class BrowserModel;
class DeleteList;

// The delete list as text for other tools: copied, saved where the user says, and mirrored
// into a file after every change.
class DeleteListExport : public QObject {
  Q_OBJECT

 public:
  enum class ListStyle { onePerLine, shellQuoted };

  DeleteListExport(BrowserModel& browser, DeleteList& list);
  ~DeleteListExport() override;

  void copyMarkedPaths(ListStyle style);
  // Asks the window where to save "delete-list.txt"; a failure to write it is said.
  void saveMarkedList();
  // "$XDG_DATA_HOME/tallyfox/delete-list.txt" (by default below ~/.local/share), where the
  // list is mirrored; empty when there is no home folder, and then nothing is written.
  static std::filesystem::path deleteListFile();
  // The mirror's contents: one path per line (exact bytes), each ending in a line feed. A
  // path with a line feed in it is left out: its lines would name other paths.
  QByteArray listText() const;
  // Shell words for `path`: single-quoted, with bytes that are not UTF-8 as $'\xNN'.
  static QString shellQuoted(const QByteArray& path);
  // Rewrites the mirror file with the list as it is now, off the main thread.
  void writeMirror();

  struct Mirror;

 private:
  BrowserModel& browser_;
  DeleteList& list_;
  std::shared_ptr<Mirror> mirror_;
};

}  // namespace tallyfox
