#include "Commands.h"

#include <tallyfox/SnapshotDump.h>

#include <iostream>

namespace tfscan {

std::optional<tallyfox::Preferences> userPreferences() {
  auto preferences = tallyfox::Preferences::standard();
  if (!preferences) return preferences;
  // Said once per run; the store reads as empty meanwhile, so every setting has its default.
  static bool warned = false;
  if (const auto refusal = preferences->refusal(); refusal && !warned) {
    warned = true;
    std::cerr << "tfscan: warning: ignoring "
              << tallyfox::SnapshotDump::terminalSafe(preferences->file().string()) << ", which is "
              << *refusal << "; using the default settings\n";
  }
  return preferences;
}

}  // namespace tfscan
