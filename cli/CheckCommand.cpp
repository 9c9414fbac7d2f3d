#include "Commands.h"

#include <tallyfox/SnapshotDump.h>

#include <exception>
#include <iostream>

namespace tfscan {

using tallyfox::SnapshotDump::terminalSafe;

bool reportDamage(const tallyfox::DiskTree& tree, const std::string& file) {
  // Opening checks only the header; a damaged column would otherwise print a normal
  // summary or a diff that quietly adds up wrong.
  const auto violation = tree.firstViolation(tallyfox::SnapshotDump::totalsOf(file));
  if (!violation) return false;
  // The violation names the damaged node by its path, which the file chose.
  std::cerr << "tfscan: " << terminalSafe(file) << " is damaged: " << terminalSafe(*violation) << "\n";
  return true;
}

int runCheck(const std::string& file) {
  tallyfox::DiskTreePtr tree;
  try {
    tree = tallyfox::SnapshotDump::open(file);
  } catch (const std::exception& e) {
    std::cerr << "tfscan: cannot read " << terminalSafe(file) << ": " << terminalSafe(e.what()) << "\n";
    return 1;
  }
  if (reportDamage(*tree, file)) return 1;
  std::cout << terminalSafe(file) << ": OK, " << tree->nodeCount() << " entries\n";
  return 0;
}

}  // namespace tfscan
