#include <tallyfox/AtomicFile.h>

#include "linux/FileIO.h"

namespace tallyfox {

void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes) {
  FileIO::writeAtomically(destination, [&](int fd) { FileIO::writeAll(fd, bytes.data(), bytes.size()); });
}

void checkWritable(const std::filesystem::path& destination) {
  FileIO::checkWritable(destination);
}

bool isNotRegularFile(const std::error_code& code) {
  return code == FileIO::notRegularFile();
}

}  // namespace tallyfox
