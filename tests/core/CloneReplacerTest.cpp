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

// The message of the failure that replace throws, or "no failure".
std::string failureOf(const fs::path& duplicate, const fs::path& keeper, bool compareBytes = true) {
  try {
    CloneReplacer::replace(duplicate.string(), keeper.string(), compareBytes);
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

  const auto outcome = CloneReplacer::replace(duplicate.string(), keeper.string(), true);
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
  EXPECT_EQ(CloneReplacer::replace(duplicate.string(), keeper.string(), true).kind, Kind::alreadyShared);
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
