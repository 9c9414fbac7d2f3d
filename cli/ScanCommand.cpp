#include "Commands.h"

#include <iostream>

namespace tfscan {

int runScan(const ScanArgs&) {
  std::cerr << "tfscan: this mode is not available yet\n";
  return 2;
}

}  // namespace tfscan
