#include <tallyfox/CloneReplacer.h>

#include <tallyfox/SnapshotFile.h>

#include <nlohmann/json.hpp>

#include "BtrfsImage.h"
#include "CloneFixtures.h"
#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <fstream>
#include <regex>

using namespace tallyfox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

using Kind = CloneReplacer::Outcome::Kind;

std::string contentsOf(const fs::path& path) {
  const auto bytes = readBytes(path);
  return {bytes.begin(), bytes.end()};
}

struct stat statusOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

// The folder a search that found both files would have walked: the deepest holding both.
std::string searchedFolder(const fs::path& a, const fs::path& b) {
  fs::path common;
  for (auto x = a.begin(), y = b.begin(); x != a.end() && y != b.end() && *x == *y; ++x, ++y) common /= *x;
  if (common == a || common == b) common = common.parent_path();
  return common.string();
}

CloneReplacer::Outcome replace(const fs::path& duplicate, const fs::path& keeper, bool compareBytes = true) {
  return CloneReplacer::replace(duplicate.string(), keeper.string(), compareBytes,
                                searchedFolder(duplicate, keeper));
}

// The message of the failure that replace throws, or "no failure".
std::string failureOf(const fs::path& duplicate, const fs::path& keeper, bool compareBytes = true) {
  try {
    replace(duplicate, keeper, compareBytes);
  } catch (const CloneReplacer::Failure& failure) {
    EXPECT_STREQ(failure.what(), failure.message().c_str());
    return failure.message();
  }
  return "no failure";
}

class CloneReplacerOnBtrfs : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    image_ = BtrfsImage::create(why);
    if (!image_) GTEST_SKIP() << why;
    dir_ = image_->mountPoint();
  }
  fs::path operator/(const std::string& name) const { return dir_ / name; }

  std::unique_ptr<BtrfsImage> image_;
  fs::path dir_;
};

}  // namespace

TEST_F(CloneReplacerOnBtrfs, ReplacedDuplicateKeepsItsIdentityAndSharesStorage) {
  // Larger than one request of the file system, with a tail that is not a whole block.
  const std::string bytes = patternedBytes((40u << 20) + 123, 1);
  const fs::path keeper = *this / "keeper.bin", duplicate = *this / "folder" / "duplicate.bin";
  putFile(keeper, bytes);
  putFile(duplicate, bytes);
  ASSERT_EQ(::chmod(duplicate.c_str(), 0640), 0);
  ASSERT_EQ(::setxattr(duplicate.c_str(), "user.note", "mine", 4, 0), 0);
  const timespec times[2] = {{1000000000, 123}, {1100000000, 456}};
  ASSERT_EQ(::utimensat(AT_FDCWD, duplicate.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  const struct stat keeperBefore = statusOf(keeper), before = statusOf(duplicate);
  EXPECT_FALSE(filefragSaysShared(duplicate));

  const auto outcome = replace(duplicate, keeper);
  EXPECT_EQ(outcome, CloneReplacer::Outcome::replaced(std::uint64_t(before.st_blocks) * 512));

  const struct stat after = statusOf(duplicate);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mtim.tv_sec, 1100000000);
  EXPECT_EQ(after.st_mtim.tv_nsec, 456);
  EXPECT_EQ(after.st_atim.tv_sec, 1000000000);
  EXPECT_EQ(after.st_atim.tv_nsec, 123);
  char note[16] = {};
  EXPECT_EQ(::getxattr(duplicate.c_str(), "user.note", note, sizeof note), 4);
  EXPECT_STREQ(note, "mine");
  EXPECT_EQ(contentsOf(duplicate), bytes);

  const struct stat keeperAfter = statusOf(keeper);
  EXPECT_EQ(keeperAfter.st_ino, keeperBefore.st_ino);
  EXPECT_EQ(keeperAfter.st_mtim.tv_sec, keeperBefore.st_mtim.tv_sec);
  EXPECT_EQ(keeperAfter.st_mtim.tv_nsec, keeperBefore.st_mtim.tv_nsec);
  EXPECT_EQ(contentsOf(keeper), bytes);

  EXPECT_TRUE(filefragSaysShared(duplicate));
  EXPECT_TRUE(filefragSaysShared(keeper));

  // Asked again, nothing is left to do, even with the comparison.
  EXPECT_EQ(replace(duplicate, keeper).kind, Kind::alreadyShared);
}

TEST_F(CloneReplacerOnBtrfs, RefusesWhatIsNotSafeToReplace) {
  const std::string bytes = patternedBytes(200000, 2);
  const fs::path keeper = *this / "keeper";
  putFile(keeper, bytes);
  auto copy = [&](const std::string& name) {
    putFile(*this / name, bytes);
    return *this / name;
  };

  TempDir elsewhere;
  putFile(elsewhere / "copy", bytes);
  EXPECT_EQ(failureOf(elsewhere / "copy", keeper), "on different volumes");

  const fs::path locked = copy("locked");
  ASSERT_EQ(runCommand({"chattr", "+i", locked.string()}), 0);
  EXPECT_EQ(failureOf(locked, keeper), "locked");
  EXPECT_EQ(runCommand({"chattr", "-i", locked.string()}), 0);
  ASSERT_EQ(runCommand({"chattr", "+a", keeper.string()}), 0);
  EXPECT_EQ(failureOf(copy("d2"), keeper), "locked");
  EXPECT_EQ(runCommand({"chattr", "-a", keeper.string()}), 0);

  // A clone of a third file: making it a clone of the keeper instead frees nothing.
  const fs::path third = copy("third");
  ASSERT_TRUE(reflinkCopy(third, *this / "clone-of-third"));
  EXPECT_EQ(failureOf(*this / "clone-of-third", keeper),
            "its storage is shared with other clones; replacing it frees nothing");

  // Changed in the middle since the search: caught by the comparison, or by the file
  // system itself when the caller skips it.
  std::string changed = bytes;
  changed[150000] ^= 1;
  putFile(*this / "changed", changed);
  EXPECT_EQ(failureOf(*this / "changed", keeper, true), "contents differ now");
  EXPECT_EQ(failureOf(*this / "changed", keeper, false), "contents differ now");
  EXPECT_EQ(contentsOf(*this / "changed"), changed);
  EXPECT_FALSE(filefragSaysShared(*this / "changed"));

  EXPECT_EQ(failureOf(keeper, keeper), "same file as the kept copy");

  // Nothing was left behind in the folders.
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".tfclone"), std::string::npos);
  EXPECT_EQ(contentsOf(keeper), bytes);
}

// After the search a folder below the searched one became a link to a folder elsewhere that
// holds the same names and contents. Following it would share storage outside the folder
// the user chose, and log it under the old path.
TEST_F(CloneReplacerOnBtrfs, NeverFollowsAFolderThatBecameALinkAfterTheSearch) {
  const std::string bytes = patternedBytes(200000, 5);
  const fs::path searched = *this / "r", other = *this / "other";
  for (const char* name : {"a/s1", "b/s1", "c/s1", "d/s1"}) putFile(searched / name, bytes);
  putFile(other / "s1", bytes);
  fs::rename(searched / "b", searched / "b_real");
  fs::create_symlink("../other", searched / "b");
  fs::rename(searched / "a", searched / "a_real");
  fs::create_symlink("a_real", searched / "a");
  fs::rename(searched / "c", searched / "c_real");
  putFile(searched / "c", "a file now");

  auto failure = [&](const fs::path& duplicate, const fs::path& keeper) {
    try {
      CloneReplacer::replace(duplicate.string(), keeper.string(), true, searched.string());
    } catch (const CloneReplacer::Failure& failure) {
      return std::pair(failure.message(), failure.kind());
    }
    return std::pair(std::string("no failure"), CloneReplacer::Failure::Kind::file);
  };
  using FailureKind = CloneReplacer::Failure::Kind;
  const auto linked = std::pair(std::string("a folder on its path has become a link since the search"),
                                FailureKind::folderChanged);
  // The duplicate's folder, the keeper's, even a link to a folder inside.
  EXPECT_EQ(failure(searched / "b" / "s1", searched / "d" / "s1"), linked);
  EXPECT_EQ(failure(searched / "d" / "s1", searched / "b" / "s1"), linked);
  EXPECT_EQ(failure(searched / "a" / "s1", searched / "d" / "s1"), linked);
  EXPECT_EQ(failure(searched / "c" / "s1", searched / "d" / "s1"),
            std::pair(std::string("a folder on its path is no longer a folder"), FailureKind::folderChanged));
  EXPECT_EQ(failure(other / "s1", searched / "d" / "s1"),
            std::pair("not below " + searched.string(), FailureKind::file));
  EXPECT_EQ(failure(searched / "d" / ".." / "b_real" / "s1", searched / "d" / "s1"),
            std::pair("its path leads outside " + searched.string(), FailureKind::folderChanged));
  for (const fs::path& untouched : {other / "s1", searched / "b_real" / "s1", searched / "a_real" / "s1",
                                    searched / "c_real" / "s1", searched / "d" / "s1"})
    EXPECT_FALSE(filefragSaysShared(untouched)) << untouched;

  // The searched folder itself is taken as the user named it, through a link or not.
  fs::create_symlink(searched, *this / "link-to-r");
  const fs::path viaLink = *this / "link-to-r";
  EXPECT_EQ(CloneReplacer::replace((viaLink / "b_real" / "s1").string(), (viaLink / "d" / "s1").string(),
                                   true, viaLink.string())
                .kind,
            Kind::replaced);
  EXPECT_TRUE(filefragSaysShared(searched / "b_real" / "s1"));
  EXPECT_FALSE(filefragSaysShared(other / "s1"));
}

// The checks before any sharing of storage need none: they run on any file system.
TEST(CloneReplacer, RefusesWhatIsNotSafeToReplaceOnAnyFileSystem) {
  TempDir dir;
  const std::string bytes = patternedBytes(100000, 4);
  const fs::path keeper = dir / "keeper";
  putFile(keeper, bytes);
  auto copy = [&](const std::string& name) {
    putFile(dir / name, bytes);
    return dir / name;
  };

  EXPECT_EQ(failureOf(copy("d1"), dir / "missing"), "can't read " + (dir / "missing").string());
  EXPECT_EQ(failureOf(dir / "missing", keeper), "can't read " + (dir / "missing").string());

  fs::create_symlink(keeper, dir / "symlink");
  EXPECT_EQ(failureOf(dir / "symlink", keeper), "not a regular file");
  fs::create_directory(dir / "folder");
  EXPECT_EQ(failureOf(keeper, dir / "folder"), "not a regular file");

  const fs::path longer = copy("longer");
  { std::ofstream(longer, std::ios::app) << "x"; }
  EXPECT_EQ(failureOf(longer, keeper), "sizes differ now");

  const fs::path linked = copy("linked");
  fs::create_hard_link(linked, dir / "second-name");
  EXPECT_EQ(failureOf(linked, keeper), "has hard links");

  // Only root can give a file away.
  if (::geteuid() == 0) {
    const fs::path foreign = copy("foreign");
    ASSERT_EQ(::chown(foreign.c_str(), 12345, 12345), 0);
    EXPECT_EQ(failureOf(foreign, keeper), "owned by another user");
  }
  for (const auto& name : namesIn(dir.path())) EXPECT_EQ(name.find(".tfclone"), std::string::npos);
  EXPECT_EQ(contentsOf(keeper), bytes);
}

TEST(CloneReplacer, FileSystemsWithoutSharedStorageSayIt) {
  TempDir dir;
  const std::string bytes = patternedBytes(100000, 3);
  putFile(dir / "keeper", bytes);
  putFile(dir / "duplicate", bytes);
  const std::string message = failureOf(dir / "duplicate", dir / "keeper");
  // A file system that can share storage (the temporary folder on btrfs or XFS) replaces.
  if (message == "no failure") GTEST_SKIP() << "the temporary folder's file system shares storage";
  EXPECT_EQ(message, "clone failed: this file system can't share storage between files");
  EXPECT_EQ(contentsOf(dir / "duplicate"), bytes);
}

TEST(CloneReplacer, IdenticalComparesEveryByte) {
  TempDir dir;
  const std::string bytes = patternedBytes((3u << 20) + 5, 4);
  putFile(dir / "a", bytes);
  putFile(dir / "b", bytes);
  std::string last = bytes;
  last.back() ^= 1;
  putFile(dir / "last", last);
  putFile(dir / "shorter", bytes.substr(0, bytes.size() - 1));
  putFile(dir / "empty1", "");
  putFile(dir / "empty2", "");

  EXPECT_TRUE(CloneReplacer::identical((dir / "a").string(), (dir / "b").string()));
  EXPECT_FALSE(CloneReplacer::identical((dir / "a").string(), (dir / "last").string()));
  EXPECT_FALSE(CloneReplacer::identical((dir / "a").string(), (dir / "shorter").string()));
  EXPECT_FALSE(CloneReplacer::identical((dir / "shorter").string(), (dir / "a").string()));
  EXPECT_TRUE(CloneReplacer::identical((dir / "empty1").string(), (dir / "empty2").string()));
  auto failureOfComparing = [](const fs::path& a, const fs::path& b) -> std::string {
    try {
      CloneReplacer::identical(a.string(), b.string());
    } catch (const CloneReplacer::Failure& failure) {
      return failure.message();
    }
    return "no failure";
  };
  EXPECT_EQ(failureOfComparing(dir / "a", dir / "gone"), "can't open for comparison");
  fs::create_directory(dir / "folder");  // opens, but cannot be read
  EXPECT_EQ(failureOfComparing(dir / "a", dir / "folder"), "read failed during comparison");
}

TEST(CloneLog, LineFormat) {
  const auto date = std::chrono::system_clock::from_time_t(1709644029) + std::chrono::milliseconds(700);
  EXPECT_EQ(CloneLog::line("/a/keep \"1\"", "/b/dup\u00e9", 123456, date),
            "{\"bytes\":123456,\"date\":\"2024-03-05T13:07:09Z\",\"keeper\":\"\\/a\\/keep \\\"1\\\"\","
            "\"replaced\":\"\\/b\\/dup\u00e9\"}");
}

TEST(CloneLog, RecordAppendsOneLinePerReplacement) {
  ScopedHome home;
  const fs::path folder = home.path() / "snaps";
  const fs::path log = folder / "clone-log.jsonl";
  EXPECT_EQ(CloneLog::url(folder), log);
  EXPECT_FALSE(fs::exists(log));  // the folder is created on the first record

  CloneLog::record(folder, "/k", "/d1", 4096);
  CloneLog::record(folder, "/k", "/d2", 8192);
  std::ifstream in(log);
  std::string first, second, rest;
  ASSERT_TRUE(std::getline(in, first));
  ASSERT_TRUE(std::getline(in, second));
  EXPECT_FALSE(std::getline(in, rest));
  EXPECT_TRUE(std::regex_match(
      first,
      std::regex(
          R"(\{"bytes":4096,"date":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ","keeper":"\\/k","replaced":"\\/d1"\})")))
      << first;
  EXPECT_EQ(nlohmann::json::parse(second).at("replaced"), "/d2");
  EXPECT_EQ(contentsOf(log).back(), '\n');
}

TEST(CloneLog, RecordNeverFails) {
  ScopedHome home;
  putFile(home.path() / "a-file", "");
  CloneLog::record(home.path() / "a-file" / "below", "/k", "/d", 1);  // a folder below a file cannot exist
  EXPECT_FALSE(fs::exists(home.path() / "a-file" / "below"));
}

// A link or a FIFO planted in the log's place: the line is refused and said to be, the
// link's target is never written, and nothing waits for a reader of the FIFO.
TEST(CloneLog, RefusesALinkOrFIFOInItsPlaceAndSaysWhy) {
  ScopedHome home;
  const fs::path folder = home.path() / "snaps";
  const fs::path log = CloneLog::url(folder);
  EXPECT_EQ(CloneLog::check(folder), std::nullopt);
  EXPECT_EQ(CloneLog::record(folder, "/k", "/d", 1), std::nullopt);
  EXPECT_EQ(lines(contentsOf(log)).size(), 1u);

  fs::remove(log);
  putFile(home.path() / "target", "precious\n");
  fs::create_symlink(home.path() / "target", log);
  EXPECT_EQ(CloneLog::check(folder), "it is not a regular file");
  EXPECT_EQ(CloneLog::record(folder, "/k", "/d", 1), "it is not a regular file");
  EXPECT_EQ(contentsOf(home.path() / "target"), "precious\n");

  fs::remove(log);
  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  EXPECT_EQ(CloneLog::check(folder), "it is not a regular file");
  EXPECT_EQ(CloneLog::record(folder, "/k", "/d", 1), "it is not a regular file");
  EXPECT_TRUE(fs::is_fifo(log));

  fs::remove(log);
  fs::create_directory(log);
  EXPECT_TRUE(CloneLog::record(folder, "/k", "/d", 1).has_value());
  EXPECT_TRUE(CloneLog::check(home.path() / "target" / "below").has_value());
}
