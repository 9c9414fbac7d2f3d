#include "Commands.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/FileChangedError.h>
#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotDump.h>

#include <unistd.h>

#include <exception>
#include <iostream>
#include <system_error>

namespace tfscan {

int runExportNcdu(const std::string& output, const std::string& file) {
  const bool toStandardOutput = isStandardOutput(output);
  // Before reading and checking what may be a large snapshot.
  if (!toStandardOutput && reportUnwritable(output)) return 1;
  const tallyfox::DiskTreePtr tree = openSnapshot(file);
  if (!tree || reportDamage(*tree, file)) return 1;
  try {
    if (toStandardOutput)
      tallyfox::NcduExport::stream(*tree, STDOUT_FILENO);
    else
      // Refuses to put an export in place when the snapshot changed while it was written.
      tallyfox::NcduExport::write(*tree, output);
  } catch (const tallyfox::FileChangedError&) {
    printChanged(file);
    return 1;
  } catch (const std::system_error& e) {
    std::cerr << "tfscan: cannot write " << tallyfox::SnapshotDump::terminalSafe(output) << ": "
              << tallyfox::SnapshotDump::terminalSafe(cannotWriteReason(e)) << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "tfscan: cannot write " << tallyfox::SnapshotDump::terminalSafe(output) << ": "
              << tallyfox::SnapshotDump::terminalSafe(e.what()) << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tfscan
