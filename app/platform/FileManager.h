#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace tallyfox {

class Opener;

// Shows a file or folder selected in the desktop's file manager.
class FileManager {
 public:
  virtual ~FileManager() = default;
  // `path` is the file's exact bytes. Returns at once: the answer may come later.
  virtual void reveal(const QByteArray& path) = 0;

  // org.freedesktop.FileManager1 over D-Bus, else the parent folder opened by the desktop.
  static std::shared_ptr<FileManager> system();
  // The same on the named D-Bus connection (empty: the session bus), with `folders` opening
  // the parent folder when no file manager answers.
  static std::shared_ptr<FileManager> onBus(const QString& connectionName, std::shared_ptr<Opener> folders);
};

}  // namespace tallyfox
