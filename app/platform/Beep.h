#pragma once

namespace tallyfox {

// The system's "nothing to do here" sound. The platform's bell is reached only through the
// widgets application, so the real one comes from the windows (ApplicationBeep) and is
// handed to Desktop::system().
class Beep {
 public:
  virtual ~Beep() = default;
  virtual void beep() = 0;
};

}  // namespace tallyfox
