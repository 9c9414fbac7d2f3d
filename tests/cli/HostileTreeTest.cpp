// tfscan on a tree built to break scanners: names with line breaks and bytes that are not
// UTF-8, names of the longest length allowed, a chain of folders whose path is longer than
// PATH_MAX, one folder of 100,000 entries, a FIFO, a socket and a folder it may not read.
// The scan must finish, flag the one folder it could not read, and count the bytes of
// everything else as GNU du does.

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotFile.h>

#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

using namespace tallyfox;
namespace fs = std::filesystem;

namespace {

constexpr int manyEntries = 100000;
constexpr int chainLevels = 24;  // of 250-byte names: about 6,000 bytes of path

class Folder {
 public:
  explicit Folder(int fd) : fd_(fd) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open folder");
  }
  Folder(const Folder&) = delete;
  ~Folder() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

  Folder folder(const std::string& name) const {
    if (::mkdirat(fd_, name.c_str(), 0755) != 0 && errno != EEXIST)
      throw std::system_error(errno, std::generic_category(), "mkdirat");
    return Folder(::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  void file(const std::string& name, std::size_t bytes) const {
    const int file = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) throw std::system_error(errno, std::generic_category(), "openat");
    const std::string data(bytes, 'x');
    const bool written = bytes == 0 || ::write(file, data.data(), data.size()) == ssize_t(bytes);
    ::close(file);
    if (!written) throw std::runtime_error("short write");
  }
  void node(const std::string& name, mode_t type) const {
    if (::mknodat(fd_, name.c_str(), type | 0644, 0) != 0)
      throw std::system_error(errno, std::generic_category(), "mknodat");
  }

 private:
  int fd_;
};

// Child of `parent` by its exact name bytes; -1 when there is none.
NodeId childNamed(const DiskTree& tree, NodeId parent, const std::string& name) {
  for (NodeId child : tree.children(parent)) {
    const auto bytes = tree.nameView(child);
    if (std::string(bytes.begin(), bytes.end()) == name) return child;
  }
  return -1;
}

// The sum of the first column of a command's output lines.
std::uint64_t sumOfFirstColumn(const std::string& text) {
  std::uint64_t sum = 0;
  for (const std::string& line : testsupport::lines(text))
    if (!line.empty()) sum += std::stoull(line);
  return sum;
}

// Making 100,000 files on a disk's file system takes half a minute on a busy machine; in
// memory a few seconds.
fs::path memoryFolder() {
  std::error_code error;
  return ::access("/dev/shm", W_OK | X_OK) == 0 && fs::is_directory("/dev/shm", error) ? "/dev/shm" : "";
}

}  // namespace

TEST(HostileTree, ScanFinishesFlagsWhatItCannotReadAndCountsTheRestAsDuDoes) {
  const fs::path memory = memoryFolder();
  testsupport::TempDir temp(memory.empty() ? fs::temp_directory_path() : memory);
  // As root every folder is readable: the scan and the peers run as nobody, so that one is
  // not. Everything else in the temporary folder is open to them.
  std::vector<std::string> asScanner;
  if (::geteuid() == 0) {
    asScanner = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    fs::permissions(temp.path(), fs::perms(0755));
  }
  const fs::path root = temp / "tree", out = temp / "out";
  fs::create_directories(root);
  fs::create_directories(out);
  fs::permissions(out, fs::perms(0777));

  const Folder top(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::string newlineFile = "line\nbreak", newlineFolder = "\nfolder\n", badFile = "bad\xff\xfe.bin",
                    badFolder = "\xc3\x28\x80", longFile(NAME_MAX, 'n'), longFolder(NAME_MAX, 'd');
  top.file(newlineFile, 5000);
  top.folder(newlineFolder).file("inside", 9000);
  top.file(badFile, 13000);
  top.folder(badFolder).file(badFile, 17000);
  top.file(longFile, 21000);
  top.folder(longFolder).file(longFile, 25000);
  top.node("fifo", S_IFIFO);
  top.node("socket", S_IFSOCK);
  {
    // Made by descriptors, since no path can name its lower end.
    std::unique_ptr<Folder> level = std::make_unique<Folder>(::dup(top.get()));
    for (int k = 0; k < chainLevels; ++k)
      level = std::make_unique<Folder>(::dup(level->folder(std::string(249, 'c') + char('a' + k)).get()));
    level->file("bottom", 29000);
  }
  {
    const Folder many = top.folder("many");
    for (int k = 0; k < manyEntries; ++k) many.file("entry-" + std::to_string(k), k % 1000 == 0 ? 4096 : 0);
  }
  {
    const Folder locked = top.folder("locked");
    locked.file("hidden", 33000);
    ASSERT_EQ(::fchmod(locked.get(), 0), 0);
  }

  std::vector<std::string> scan = asScanner;
  scan.insert(scan.end(), {"env", "HOME=" + (out / "home").string(), TFSCAN_PATH, "-o",
                           (out / "hostile.tfsnap").string(), root.string()});
  const auto run = testsupport::runProgram(scan);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("1 entry could not be read"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("/locked"), std::string::npos) << run.err;

  const DiskTreePtr tree = SnapshotFile::map(out / "hostile.tfsnap");
  ASSERT_EQ(tree->firstViolation(), std::nullopt);
  const NodeId top_ = DiskTree::root;
  // Every odd name is there with its exact bytes, and so is what lies below it.
  for (const std::string& name :
       {newlineFile, badFile, longFile, std::string("fifo"), std::string("socket")}) {
    const NodeId id = childNamed(*tree, top_, name);
    ASSERT_GE(id, 0) << name;
    EXPECT_FALSE(tree->isDirectory(id) || tree->hadError(id)) << name;
  }
  for (const std::string& folder : {newlineFolder, badFolder, longFolder}) {
    const NodeId id = childNamed(*tree, top_, folder);
    ASSERT_GE(id, 0) << folder;
    EXPECT_EQ(tree->childCount(id), 1) << folder;
  }
  const NodeId many = childNamed(*tree, top_, "many");
  ASSERT_GE(many, 0);
  EXPECT_EQ(tree->childCount(many), manyEntries);
  NodeId deepest = top_;
  for (int level = 0; level < chainLevels; ++level) {
    deepest = childNamed(*tree, deepest, std::string(249, 'c') + char('a' + level));
    ASSERT_GE(deepest, 0) << "level " << level;
  }
  const NodeId bottom = childNamed(*tree, deepest, "bottom");
  ASSERT_GE(bottom, 0);
  EXPECT_GT(tree->path(bottom).size(), std::size_t(PATH_MAX));
  EXPECT_GT(tree->sizeOf(bottom), 0u);

  // The folder it could not read, and only that one, is flagged and has no children.
  const NodeId locked = childNamed(*tree, top_, "locked");
  ASSERT_GE(locked, 0);
  EXPECT_TRUE(tree->hadError(locked));
  EXPECT_EQ(tree->childCount(locked), 0);
  EXPECT_EQ(tree->errorCount(), 1u);
  // Eleven entries at the top, one in each odd folder, the rest of the chain and its file.
  EXPECT_EQ(tree->nodeCount(), 11 + 3 + manyEntries + (chainLevels - 1) + 1);

  // du counts the blocks of folders too, where a snapshot gives a folder only its contents:
  // take those away, as find reports them, and the rest must be the same bytes.
  std::vector<std::string> du = asScanner, find = asScanner;
  du.insert(du.end(), {"du", "-B1", "-s", root.string()});
  find.insert(find.end(), {"find", root.string(), "-type", "d", "-printf", "%b\\n"});
  const auto duRun = testsupport::runProgram(du), findRun = testsupport::runProgram(find);
  ASSERT_FALSE(duRun.out.empty()) << duRun.err;
  // Both say they could not read "locked"; nothing else.
  EXPECT_EQ(testsupport::lines(duRun.err).size(), 1u) << duRun.err;
  EXPECT_EQ(testsupport::lines(findRun.err).size(), 1u) << findRun.err;
  const std::uint64_t duBytes = std::stoull(duRun.out), folderBytes = 512 * sumOfFirstColumn(findRun.out);
  EXPECT_EQ(tree->sizeOf(top_), duBytes - folderBytes);

  // Paths this deep are beyond std::filesystem; GNU rm removes them.
  ASSERT_EQ(::chmod((root / "locked").c_str(), 0755), 0);
  EXPECT_EQ(testsupport::runCommand({"rm", "-rf", root.string()}), 0);
}
