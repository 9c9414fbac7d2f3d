#pragma once

#include <memory>

namespace tallyfox {

// The system's "nothing to do here" sound.
class Beep {
 public:
  virtual ~Beep() = default;
  virtual void beep() = 0;

  static std::shared_ptr<Beep> system();
};

}  // namespace tallyfox
