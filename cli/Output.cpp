#include "Commands.h"

#include <tallyfox/AtomicFile.h>

namespace tfscan {

bool isStandardOutput(const std::string& output) {
  return output == "-" || output == "/dev/stdout";
}

std::string cannotWriteReason(const std::system_error& error) {
  if (tallyfox::isNotRegularFile(error.code()))
    return "not a regular file; only a regular file is replaced (- writes to standard output)";
  return error.code().message();
}

}  // namespace tfscan
