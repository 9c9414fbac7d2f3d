#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace tallyfox {

// The desktop clipboard.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // A file as file managers copy it: paste in one puts the file there; paste in a text
  // field gives its path. `path` is the file's exact bytes.
  virtual void copyFileReference(const QByteArray& path) = 0;
  virtual void copyText(const QString& text) = 0;

  static std::shared_ptr<Clipboard> system();
};

}  // namespace tallyfox
