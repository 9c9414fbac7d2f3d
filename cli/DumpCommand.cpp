#include "Commands.h"

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
    std::cout << tallyfox::SnapshotDump::summary(*tree, seconds);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << tallyfox::SnapshotDump::terminalSafe(e.what()) << "\n";
    return 1;
  }
}

}  // namespace tfscan
