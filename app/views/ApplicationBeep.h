#pragma once

#include "platform/Beep.h"

namespace tallyfox {

// The bell of the platform the widgets application runs on; silent without one.
class ApplicationBeep : public Beep {
 public:
  void beep() override;
};

}  // namespace tallyfox
