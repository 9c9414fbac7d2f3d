#include "../../core/src/linux/FileIO.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/VokSnapshotReader.h>

#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

TEST_P(AtomicWrite, FailuresLeaveNothingAndAbandonedTemporariesInTheFolderGo) {
  TempDir dir;
  const std::string dead = std::to_string(testsupport::pidOfAnEndedProcess());
  Names kept = {".b.json." + dead + ".tmp",  // the older form is taken for ours only for its own file
                ".a.json." + dead + ".notes"};
  // Nobody holds their locks, whatever process ids or files their names carry.
  const Names abandoned = {".a.json." + dead + ".tmp", ".a.json." + dead + ".k3j4h5g6f7d8.tmp",
                           ".a.json.1.k3j4h5g6f7d8.tmp", ".other.tfsnap." + dead + ".m2n3b4v5c6x7.tmp",
                           ".." + dead + ".m2n3b4v5c6x7.tmp"};
  for (const auto& name : kept) testsupport::writeFile(dir / name, "kept");
  for (const auto& name : abandoned) testsupport::writeFile(dir / name, "stale");
  if (::geteuid() == 0) {
    // Another user's temporary is not ours to delete.
    const std::string theirs = ".c.json." + dead + ".q1w2e3r4t5y6.tmp";
    testsupport::writeFile(dir / theirs, "theirs");
    ASSERT_EQ(::chown((dir / theirs).c_str(), 65534, 65534), 0);
    kept.push_back(theirs);
  }
  std::sort(kept.begin(), kept.end());

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

TEST_P(AtomicWrite, OnlyARegularFileIsEverReplaced) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  // With a reader, a writer that opened the FIFO would not block: what it sent would be seen.
  FileIO::Descriptor reader(::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(reader);
  fs::create_directory(dir / "folder");
  fs::create_symlink("fifo", dir / "link-to-fifo");
  fs::create_symlink("/dev/null", dir / "link-to-null");
  fs::create_symlink("folder", dir / "link-to-folder");
  Names devices = {"fifo", "link-to-fifo", "link-to-null"};
  // Root replaces what it likes, /dev/null as readily as a file of its own.
  if (::geteuid() == 0 && ::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    devices.push_back("null");
  const Names before = testsupport::namesIn(dir.path());

  for (const auto& name : devices) {
    EXPECT_EQ(systemErrorOf([&] { write(dir / name, "snapshot"); }), "not a regular file") << name;
    EXPECT_EQ(systemErrorOf([&] { FileIO::checkWritable(dir / name); }), "not a regular file") << name;
  }
  for (const auto& name : {"folder", "link-to-folder"}) {
    EXPECT_EQ(systemErrorOf([&] { write(dir / name, "snapshot"); }), "Is a directory") << name;
    EXPECT_EQ(systemErrorOf([&] { FileIO::checkWritable(dir / name); }), "Is a directory") << name;
  }

  EXPECT_EQ(testsupport::namesIn(dir.path()), before);
  struct stat status;
  ASSERT_EQ(::lstat((dir / "fifo").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  char byte;
  EXPECT_EQ(::read(reader.get(), &byte, 1), 0) << "something was written into the FIFO";
  if (devices.back() == "null") {
    ASSERT_EQ(::lstat((dir / "null").c_str(), &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
  }
  EXPECT_TRUE(fs::is_symlink(dir / "link-to-null"));
}

// The names a file system allows are written, although their temporaries' names are longer.
TEST_P(AtomicWrite, NamesUpToTheLimitAreWritten) {
  TempDir dir;
  const std::string longest(FileIO::maxNameBytes(dir.path()), 'n');
  const std::string accented = std::string(1, 'a') + [] {
    std::string text;
    while (text.size() + 2 <= 240) text += "\xC3\xA9";  // é
    return text;
  }();
  for (const auto& name : {longest, accented}) {
    FileIO::checkWritable(dir / name);
    write(dir / name, "data");
    EXPECT_EQ(textOf(dir / name), "data");
  }
  EXPECT_EQ(testsupport::namesIn(dir.path()), (Names{accented, longest}));
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

  // A FIFO in place of the settings reads as no settings, and is not replaced by a file.
  ASSERT_EQ(::mkfifo((dir / "preferences.json").c_str(), 0600), 0);
  Preferences preferences(dir / "preferences.json");
  EXPECT_FALSE(preferences.get("scanSpeed"));
  EXPECT_EQ(systemErrorOf([&] { preferences.set("scanSpeed", "gentle"); }), "not a regular file");
  EXPECT_TRUE(fs::is_fifo(dir / "preferences.json"));
}

TEST(RegularFiles, WhatCannotBeWrittenIsKnownBeforeWriting) {
  TempDir dir;
  testsupport::writeFile(dir / "file", "x");
  EXPECT_EQ(systemErrorOf([&] { FileIO::checkWritable(dir / "missing" / "a"); }),
            "No such file or directory");
  EXPECT_EQ(systemErrorOf([&] { FileIO::checkWritable(dir / "file" / "a"); }), "Not a directory");
  EXPECT_EQ(systemErrorOf(
                [&] { FileIO::checkWritable(dir / std::string(FileIO::maxNameBytes(dir.path()) + 1, 'n')); }),
            "File name too long");
  EXPECT_EQ(systemErrorOf([&] { FileIO::checkWritable(dir.path() / ""); }), "Is a directory");
  // A folder that cannot be searched or written, seen by an unprivileged user.
  if (::geteuid() == 0) {
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directory(dir / "closed");
    fs::permissions(dir / "closed", fs::perms::owner_all);
    const pid_t child = ::fork();
    if (child == 0) {
      const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
      ::_exit(dropped && systemErrorOf([&] { FileIO::checkWritable(dir / "closed" / "a"); }) ==
                             "Permission denied"
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not refused as nobody";
  }
  // The checks leave nothing behind.
  fs::remove(dir / "closed");
  EXPECT_EQ(testsupport::namesIn(dir.path()), Names{"file"});
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
