#pragma once

#include "model/Documents.h"
#include "model/PlaceStore.h"
#include "platform/Desktop.h"

#include <memory>

namespace tallyfox {

class Settings;

// Everything a browser model reaches outside itself: the desktop's services, the place
// store and the open documents. Tests hand in fakes; a missing service does nothing.
struct Services {
  Services() = default;
  // The desktop alone, as most tests need it.
  Services(Desktop desktop) : desktop(std::move(desktop)) {}  // NOLINT: implicit on purpose

  Desktop desktop;
  std::shared_ptr<PlaceStore> places;
  // Not owned: the document controller and the settings outlive every model.
  Documents* documents = nullptr;
  const Settings* settings = nullptr;
};

}  // namespace tallyfox
