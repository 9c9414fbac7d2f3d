#pragma once

#include <QByteArray>

#include <memory>

namespace tallyfox {

// Opens a file or folder with the user's default application.
class Opener {
 public:
  virtual ~Opener() = default;
  // `path` is the file's exact bytes.
  virtual void open(const QByteArray& path) = 0;

  static std::shared_ptr<Opener> system();
};

}  // namespace tallyfox
