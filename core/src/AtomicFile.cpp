#include <tallyfox/AtomicFile.h>

#include "linux/FileIO.h"

namespace tallyfox {

void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes) {
  FileIO::writeAtomically(destination, [&](int fd) { FileIO::writeAll(fd, bytes.data(), bytes.size()); });
}

}  // namespace tallyfox
