#include "Commands.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/Metrics.h>
#include <tallyfox/SnapshotDump.h>

#include <unistd.h>

#include <iostream>
#include <system_error>

namespace tfscan {

int runMetrics(const std::string& output, const std::string& file) {
  using tallyfox::SnapshotDump::terminalSafe;
  const bool toStandardOutput = isStandardOutput(output);
  if (!toStandardOutput && reportUnwritable(output)) return 1;
  const tallyfox::DiskTreePtr tree = openSnapshot(file);
  if (!tree) return 1;
  // A damaged tree's sums would reach the monitoring as real figures.
  if (reportDamage(*tree, file)) return 1;
  const std::string text = tallyfox::Metrics::exposition(*tree);
  if (reportChange(*tree, file)) return 1;
  try {
    if (toStandardOutput) {
      std::cout << text << std::flush;
      if (!std::cout) throw std::system_error(errno ? errno : EIO, std::generic_category());
    } else {
      // The textfile collector reads the file at any moment: it must never see half of it.
      tallyfox::writeFileAtomically(output, text);
    }
  } catch (const std::system_error& e) {
    std::cerr << "tfscan: cannot write " << terminalSafe(output) << ": " << terminalSafe(cannotWriteReason(e))
              << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tfscan
