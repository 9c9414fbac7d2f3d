#include "Commands.h"

#include <tallyfox/FileChangedError.h>
#include <tallyfox/JsonValues.h>
#include <tallyfox/SnapshotDump.h>

#include <exception>
#include <iostream>

namespace tfscan {

using tallyfox::SnapshotDump::terminalSafe;

void printChanged(const std::string& file) {
  std::cerr << "tfscan: " << tallyfox::SnapshotDump::terminalSafe(file) << " changed while it was read\n";
}

bool reportChange(const tallyfox::DiskTree& tree, const std::string& file) {
  if (!tree.fileChanged()) return false;
  printChanged(file);
  return true;
}

bool reportDamage(const tallyfox::DiskTree& tree, const std::string& file) {
  // Opening checks only the header; a damaged column would otherwise print a normal
  // summary or a diff that quietly adds up wrong.
  const auto violation = tree.firstViolation(tallyfox::SnapshotDump::totalsOf(file));
  // Damage that a change made while the check read is the change's.
  if (reportChange(tree, file)) return true;
  if (!violation) return false;
  // The violation names the damaged node by its path, which the file chose.
  std::cerr << "tfscan: " << terminalSafe(file) << " is damaged: " << terminalSafe(*violation) << "\n";
  return true;
}

tallyfox::DiskTreePtr openSnapshot(const std::string& file) {
  try {
    return tallyfox::SnapshotDump::open(file);
  } catch (const tallyfox::FileChangedError&) {
    printChanged(file);
  } catch (const std::exception& e) {
    std::cerr << "tfscan: cannot read " << terminalSafe(file) << ": " << terminalSafe(e.what()) << "\n";
  }
  return nullptr;
}

int runCheck(const std::string& file, bool json) {
  const tallyfox::DiskTreePtr tree = openSnapshot(file);
  if (!tree) return 1;
  if (!json) {
    if (reportDamage(*tree, file)) return 1;
    std::cout << terminalSafe(file) << ": OK, " << tree->nodeCount() << " entries\n";
    return 0;
  }
  // The verdict is the document: damage is an answer here, not a failure to give one.
  const auto violation = tree->firstViolation(tallyfox::SnapshotDump::totalsOf(file));
  if (reportChange(*tree, file)) return 1;
  nlohmann::json verdict = {
      {"file", tallyfox::detail::pathToJson(file)}, {"sound", !violation}, {"entries", tree->nodeCount()}};
  verdict["damage"] = violation ? nlohmann::json(tallyfox::detail::pathToJson(*violation)) : nlohmann::json();
  printJson(verdict);
  return violation ? 1 : 0;
}

}  // namespace tfscan
