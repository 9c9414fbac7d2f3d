#pragma once

#include <QString>

#include <memory>

namespace tallyfox {

// Opens a file or folder with the user's default application.
class Opener {
 public:
  virtual ~Opener() = default;
  virtual void open(const QString& path) = 0;

  static std::shared_ptr<Opener> system();
};

}  // namespace tallyfox
