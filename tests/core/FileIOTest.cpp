#include "../../core/src/linux/FileIO.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/VokSnapshotReader.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tallyfox;
using testsupport::TempDir;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

std::string textOf(const fs::path& path) {
  const auto bytes = testsupport::readBytes(path);
  return {bytes.begin(), bytes.end()};
}

// The name every temporary had before it was made unpredictable.
std::string predictableName(const std::string& file) {
  return "." + file + "." + std::to_string(::getpid()) + ".tmp";
}

pid_t pidOfAnEndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

// The message of the std::system_error that `f` throws, or "no error".
template <typename F>
std::string systemErrorOf(F f) {
  try {
    f();
  } catch (const std::system_error& e) {
    return e.what();
  }
  return "no error";
}

class AtomicWrite : public ::testing::TestWithParam<FileIO::Temporary> {
 protected:
  void write(const fs::path& to, const std::string& text) {
    FileIO::writeAtomically(
        to, [&](int fd) { FileIO::writeAll(fd, text.data(), text.size()); }, 0644, GetParam());
  }
};

}  // namespace

TEST_P(AtomicWrite, PlantedLinksAndFifosAreNeitherFollowedNorWaitedOn) {
  TempDir dir;
  testsupport::writeFile(dir / "victim", "precious");
  fs::create_symlink(dir / "victim", dir / predictableName("a.json"));
  ASSERT_EQ(::mkfifo((dir / predictableName("b.json")).c_str(), 0600), 0);
  fs::create_symlink(dir / "victim", dir / "c.json");  // the destination itself a link

  write(dir / "a.json", "new a");
  write(dir / "b.json", "new b");
  write(dir / "c.json", "new c");

  EXPECT_EQ(textOf(dir / "victim"), "precious");
  EXPECT_EQ(textOf(dir / "a.json"), "new a");
  EXPECT_EQ(textOf(dir / "b.json"), "new b");
  EXPECT_EQ(textOf(dir / "c.json"), "new c");
  EXPECT_FALSE(fs::is_symlink(dir / "c.json"));
  EXPECT_EQ(testsupport::namesIn(dir.path()), (Names{predictableName("a.json"), predictableName("b.json"),
                                                     "a.json", "b.json", "c.json", "victim"}));
}

TEST_P(AtomicWrite, FailuresLeaveNothingAndStaleTemporariesOfTheDestinationGo) {
  TempDir dir;
  const std::string dead = std::to_string(pidOfAnEndedProcess());
  Names kept = {".a.json.1.k3j4h5g6f7d8.tmp",  // pid 1 runs as long as the machine does
                ".b.json." + dead + ".tmp",    // another file's
                ".a.json." + dead + ".notes"};
  std::sort(kept.begin(), kept.end());
  for (const auto& name : kept) testsupport::writeFile(dir / name, "kept");
  for (const auto& name : {".a.json." + dead + ".tmp", ".a.json." + dead + ".k3j4h5g6f7d8.tmp"})
    testsupport::writeFile(dir / name, "stale");

  EXPECT_THROW(FileIO::writeAtomically(
                   dir / "a.json", [](int) { throw std::runtime_error("disk full"); }, 0644, GetParam()),
               std::runtime_error);
  EXPECT_EQ(testsupport::namesIn(dir.path()), kept);

  write(dir / "a.json", "done");
  Names expected = kept;
  expected.push_back("a.json");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testsupport::namesIn(dir.path()), expected);
  EXPECT_EQ(textOf(dir / "a.json"), "done");
}

INSTANTIATE_TEST_SUITE_P(Temporaries, AtomicWrite,
                         ::testing::Values(FileIO::Temporary::unnamedWherePossible,
                                           FileIO::Temporary::named));

TEST(RegularFiles, ReadersRefuseFifosAndFoldersAtOnce) {
  TempDir dir;
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "a", 10}}), {"/data", {}, 1},
                      dir / "good.tfsnap");
  ASSERT_EQ(::mkfifo((dir / "fifo.tfsnap").c_str(), 0600), 0);
  fs::create_directory(dir / "folder.tfsnap");

  for (const auto& path : {dir / "fifo.tfsnap", dir / "folder.tfsnap"}) {
    EXPECT_FALSE(SnapshotFile::readInfo(path)) << path;
    EXPECT_FALSE(SnapshotFile::matches(path)) << path;
    EXPECT_FALSE(SnapshotFile::totalBytes(path)) << path;
    EXPECT_EQ(systemErrorOf([&] { SnapshotFile::map(path); }), "not a regular file") << path;
    EXPECT_EQ(systemErrorOf([&] { VokSnapshotReader::decodeColumns(path); }), "not a regular file") << path;
  }
  const auto listed = SnapshotPaths::snapshots("/data", dir.path());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].url, dir / "good.tfsnap");

  // A FIFO in place of the settings reads as no settings, and writing replaces it.
  ASSERT_EQ(::mkfifo((dir / "preferences.json").c_str(), 0600), 0);
  Preferences preferences(dir / "preferences.json");
  EXPECT_FALSE(preferences.get("scanSpeed"));
  preferences.set("scanSpeed", "gentle");
  EXPECT_EQ(preferences.getString("scanSpeed"), "gentle");
}

// With openat2 and with the walk that stands in for it on older kernels alike: a link at any
// step, a file where a folder was and a ".." are refused, each with its own errno.
class BeneathFolder : public ::testing::TestWithParam<FileIO::Resolution> {};

INSTANTIATE_TEST_SUITE_P(BothWays, BeneathFolder,
                         ::testing::Values(FileIO::Resolution::automatic, FileIO::Resolution::walk));

TEST_P(BeneathFolder, NeverFollowsALinkNorLeavesTheFolder) {
  TempDir dir;
  const fs::path root = dir / "root";
  fs::create_directories(root / "a" / "b");
  testsupport::writeFile(root / "file", "x");
  fs::create_symlink("a", root / "link");
  fs::create_symlink("../..", root / "a" / "up");
  fs::create_directories(dir / "outside");
  FileIO::Descriptor folder(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);

  auto inodeOf = [&](std::string_view relative) -> std::pair<ino_t, int> {
    FileIO::Descriptor fd(FileIO::openFolderBeneath(folder.get(), relative, GetParam()));
    if (!fd) return {0, errno};
    struct stat status;
    EXPECT_EQ(::fstat(fd.get(), &status), 0);
    return {status.st_ino, 0};
  };
  auto inode = [](const fs::path& path) {
    struct stat status;
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return std::pair<ino_t, int>(status.st_ino, 0);
  };
  EXPECT_EQ(inodeOf("a/b"), inode(root / "a" / "b"));
  EXPECT_EQ(inodeOf("a//b/"), inode(root / "a" / "b"));
  EXPECT_EQ(inodeOf(""), inode(root));
  for (const char* linked : {"link", "link/b", "a/up", "a/up/outside"})
    EXPECT_EQ(inodeOf(linked).second, ELOOP) << linked;
  EXPECT_EQ(inodeOf("file").second, ENOTDIR);
  EXPECT_EQ(inodeOf("file/below").second, ENOTDIR);
  for (const char* climbing : {"..", "a/../a", "../root/a"})
    EXPECT_EQ(inodeOf(climbing).second, EXDEV) << climbing;
  EXPECT_EQ(inodeOf("missing").second, ENOENT);
}
