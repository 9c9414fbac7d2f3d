#include "Commands.h"

#include <tallyfox/SnapshotDump.h>

#include <exception>
#include <iostream>

namespace tfscan {

bool reportDamage(const tallyfox::DiskTree& tree, const std::string& file) {
  // Opening checks only the header; a damaged column would otherwise print a normal
  // summary or a diff that quietly adds up wrong.
  const auto violation = tree.firstViolation(tallyfox::SnapshotDump::totalsOf(file));
  if (!violation) return false;
  std::cerr << "tfscan: " << file << " is damaged: " << *violation << "\n";
  return true;
}

int runCheck(const std::string& file) {
  tallyfox::DiskTreePtr tree;
  try {
    tree = tallyfox::SnapshotDump::open(file);
  } catch (const std::exception& e) {
    std::cerr << "tfscan: cannot read " << file << ": " << e.what() << "\n";
    return 1;
  }
  if (reportDamage(*tree, file)) return 1;
  std::cout << file << ": OK, " << tree->nodeCount() << " entries\n";
  return 0;
}

}  // namespace tfscan
