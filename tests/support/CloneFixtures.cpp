#include "CloneFixtures.h"

#include "BtrfsImage.h"
#include "TestSupport.h"

#include <cctype>
#include <random>
#include <sstream>

namespace testsupport {

std::string patternedBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = char(random() & 0xFF);
  return bytes;
}

void putFile(const std::filesystem::path& path, const std::string& contents) {
  std::filesystem::create_directories(path.parent_path());
  writeFile(path, contents);
}

bool reflinkCopy(const std::filesystem::path& from, const std::filesystem::path& to) {
  return runCommand({"cp", "--reflink=always", from.string(), to.string()}) == 0;
}

bool filefragSaysShared(const std::filesystem::path& path) {
  std::string output;
  if (runCommand({"filefrag", "-v", path.string()}, &output) != 0) return false;
  std::istringstream lines(output);
  std::string line;
  int extents = 0;
  while (std::getline(lines, line)) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[first]))) continue;
    const auto colon = line.find(':', first);
    if (colon == std::string::npos || line.find_first_not_of("0123456789", first) != colon) continue;
    ++extents;
    if (line.find("shared") == std::string::npos) return false;
  }
  return extents > 0;
}

std::string sha256sumOf(const std::filesystem::path& path) {
  std::string output;
  if (runCommand({"sha256sum", path.string()}, &output) != 0) return {};
  return output.substr(0, output.find(' '));
}

}  // namespace testsupport
