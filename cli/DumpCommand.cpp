#include "Commands.h"

#include <tallyfox/FileChangedError.h>
#include <tallyfox/SnapshotDump.h>

#include <chrono>
#include <exception>
#include <iostream>

namespace tfscan {

int runDump(const std::string& file) {
  const auto start = std::chrono::steady_clock::now();
  try {
    const auto tree = tallyfox::SnapshotDump::open(file);
    if (reportDamage(*tree, file)) return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string summary = tallyfox::SnapshotDump::summary(*tree, seconds);
    if (reportChange(*tree, file)) return 1;
    std::cout << summary;
    return 0;
  } catch (const tallyfox::FileChangedError&) {
    printChanged(file);
    return 1;
  } catch (const std::exception& e) {
    std::cerr << tallyfox::SnapshotDump::terminalSafe(e.what()) << "\n";
    return 1;
  }
}

}  // namespace tfscan
