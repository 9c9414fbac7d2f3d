#include "model/UpdaterDriver.h"

namespace tallyfox {

std::optional<QString> FeedlessUpdaterDriver::start(Listener&) {
  return QStringLiteral("this build has no update feed; new versions come with the system's packages");
}

}  // namespace tallyfox
