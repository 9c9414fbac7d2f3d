#include "Commands.h"

#include <iostream>

namespace tfscan {

int runDiff(const DiffArgs&) {
  std::cerr << "tfscan: this mode is not available yet\n";
  return 2;
}

}  // namespace tfscan
