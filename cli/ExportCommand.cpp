#include "Commands.h"

#include <tallyfox/FileChangedError.h>
#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotDump.h>

#include <exception>
#include <iostream>

namespace tfscan {

int runExportNcdu(const std::string& output, const std::string& file) {
  tallyfox::DiskTreePtr tree;
  try {
    tree = tallyfox::SnapshotDump::open(file);
  } catch (const tallyfox::FileChangedError&) {
    printChanged(file);
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "tfscan: cannot read " << tallyfox::SnapshotDump::terminalSafe(file) << ": "
              << tallyfox::SnapshotDump::terminalSafe(e.what()) << "\n";
    return 1;
  }
  if (reportDamage(*tree, file)) return 1;
  try {
    // Refuses to put an export in place when the snapshot changed while it was written.
    tallyfox::NcduExport::write(*tree, output);
  } catch (const tallyfox::FileChangedError&) {
    printChanged(file);
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "tfscan: cannot write " << tallyfox::SnapshotDump::terminalSafe(output) << ": "
              << tallyfox::SnapshotDump::terminalSafe(e.what()) << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tfscan
