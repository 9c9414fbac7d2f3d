#include "CloneFixtures.h"

#include "BtrfsImage.h"
#include "Subprocess.h"
#include "TestSupport.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <random>
#include <sstream>
#include <utility>

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

void syncFileSystem(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::syncfs(fd);
  ::close(fd);
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

namespace testsupport {

namespace {

class File {
 public:
  // A new empty file, or an existing one as it is.
  explicit File(const std::filesystem::path& path, bool existing = false)
      : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC | (existing ? 0 : O_CREAT | O_TRUNC), 0644)) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  int get() const { return fd_; }
  bool write(const std::string& bytes, off_t at) const {
    return fd_ >= 0 && ::pwrite(fd_, bytes.data(), bytes.size(), at) == ssize_t(bytes.size());
  }

 private:
  int fd_;
};

}  // namespace

std::string makeExtentShapes(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  fs::create_directories(folder);
  const auto at = [&](const char* name) { return folder / name; };
  const std::string block = patternedBytes(4096, 1);
  const std::string large = patternedBytes(1 << 20, 2);
  const auto wrote = [&](const char* name, const std::string& bytes, off_t offset = 0) {
    return File(at(name)).write(bytes, offset);
  };
  if (!wrote("inline", std::string(100, 'i')) || !wrote("block", block) || !wrote("large", large))
    return "writing failed";
  {
    File sparse(at("sparse"));
    if (!sparse.write(block, 0) || !sparse.write(block, 1 << 20)) return "writing sparse failed";
  }
  if (!wrote("hole-first", block + block, 65536)) return "writing hole-first failed";
  {
    File prealloc(at("prealloc"));
    if (::fallocate(prealloc.get(), 0, 0, 1 << 20) != 0) return "fallocate failed";
    File tail(at("prealloc-tail"));
    if (!tail.write(block, 0) || ::fallocate(tail.get(), FALLOC_FL_KEEP_SIZE, 4096, 65536) != 0)
      return "fallocate beyond the end failed";
  }
  {
    // Compressed before anything is written, so that every extent is.
    File compressed(at("compressed"));
    int flags = 0;
    if (::ioctl(compressed.get(), FS_IOC_GETFLAGS, &flags) != 0) return "FS_IOC_GETFLAGS failed";
    flags |= FS_COMPR_FL;
    if (::ioctl(compressed.get(), FS_IOC_SETFLAGS, &flags) != 0) return "FS_IOC_SETFLAGS failed";
    if (!compressed.write(std::string(100000, 'c'), 0)) return "writing compressed failed";
  }
  syncFileSystem(folder);
  for (const auto& [from, to] : {std::pair{"large", "large-clone"},
                                 {"large", "large-clone-2"},
                                 {"sparse", "sparse-clone"},
                                 {"compressed", "compressed-clone"},
                                 {"large", "partial"},
                                 {"inline", "inline-clone"}})
    if (!reflinkCopy(at(from), at(to))) return std::string("cloning ") + from + " failed";
  {
    // A range from the middle of a file: the clone starts inside the source's extent.
    File source(at("large"), true);
    File range(at("range-clone"));
    struct file_clone_range clone = {source.get(), 262144, 131072, 0};
    if (::ioctl(range.get(), FICLONERANGE, &clone) != 0) return "FICLONERANGE failed";
  }
  {
    File partial(at("partial"), true);
    if (!partial.write(std::string(65536, 'p'), 262144)) return "patching partial failed";
    // One extent referred to twice by its own file: at two places, and split by a write.
    File self(at("self-clone"));
    if (!self.write(patternedBytes(65536, 3), 0) || ::fsync(self.get()) != 0)
      return "writing self-clone failed";
    struct file_clone_range clone = {self.get(), 0, 65536, 1 << 20};
    if (::ioctl(self.get(), FICLONERANGE, &clone) != 0) return "FICLONERANGE into itself failed";
    File split(at("split"));
    if (!split.write(large, 0) || ::fsync(split.get()) != 0 || !split.write(block, 262144))
      return "writing split failed";
  }
  syncFileSystem(folder);
  if (!reflinkCopy(at("large"), at("pending"))) return "cloning pending failed";
  syncFileSystem(folder);
  if (!File(at("pending"), true).write(block, 1 << 20)) return "appending to pending failed";
  return {};
}

}  // namespace testsupport
