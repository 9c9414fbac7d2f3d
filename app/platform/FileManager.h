#pragma once

#include <QString>

#include <memory>

namespace tallyfox {

// Shows a file or folder selected in the desktop's file manager.
class FileManager {
 public:
  virtual ~FileManager() = default;
  virtual void reveal(const QString& path) = 0;

  // org.freedesktop.FileManager1 over D-Bus, else the parent folder opened by the desktop.
  static std::shared_ptr<FileManager> system();
};

}  // namespace tallyfox
