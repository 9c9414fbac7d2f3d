#include <tallyfox/ByteFormat.h>

#include "BtrfsImage.h"
#include "CloneFixtures.h"
#include "Subprocess.h"
#include "TestSupport.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>
#include <sstream>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::uint64_t allocatedBytes(const fs::path& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0 ? std::uint64_t(status.st_blocks) * 512 : 0;
}

class DupesCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    image_ = BtrfsImage::create(why);
    if (!image_) GTEST_SKIP() << why;
    tree_ = image_->mountPoint() / "tree";
    big_ = patternedBytes(300000, 1);
    putFile(tree_ / "a" / "report.pdf", big_);
    putFile(tree_ / "b" / "report.pdf", big_);
    putFile(tree_ / "c" / "old report.pdf", big_);
    small_ = patternedBytes(100000, 2);
    putFile(tree_ / "a" / "photo.jpg", small_);
    putFile(tree_ / "b" / "photo copy.jpg", small_);
    putFile(tree_ / "unique.bin", patternedBytes(300000, 3));
    snapshot_ = work_.path() / "tree.tfsnap";
    const ProgramRun scan = runTfscan({tree_.string(), "-o", snapshot_.string()});
    ASSERT_EQ(scan.status, 0) << scan.err;
  }
  std::string path(const std::string& relative) const { return (tree_ / relative).string(); }

  ScopedHome home_;
  TempDir work_;
  std::unique_ptr<BtrfsImage> image_;
  fs::path tree_, snapshot_;
  std::string big_, small_;
};

}  // namespace

TEST_F(DupesCommand, ListsGroupsThenReplacesCopiesByClones) {
  const ProgramRun list = runTfscan({"--dupes", snapshot_.string()});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.err, "");  // no progress lines without a terminal
  const std::uint64_t bigSaving = 2 * allocatedBytes(path("a/report.pdf"));
  const std::uint64_t smallSaving = allocatedBytes(path("a/photo.jpg"));
  const std::vector<std::string> expected = {
      "3 \u00d7 300.0 kB \u00b7 " + tallyfox::formatFileBytes(bigSaving) + " to free",
      "  keep   " + path("a/report.pdf"),
      "  clone  " + path("b/report.pdf"),
      "  clone  " + path("c/old report.pdf"),
      "2 \u00d7 100.0 kB \u00b7 " + tallyfox::formatFileBytes(smallSaving) + " to free",
      "  keep   " + path("a/photo.jpg"),
      "  clone  " + path("b/photo copy.jpg"),
      "2 groups \u00b7 " + tallyfox::formatFileBytes(bigSaving + smallSaving) + " could be shared as clones"};
  EXPECT_EQ(lines(list.out), expected);

  const ProgramRun replace = runTfscan({"--dupes", snapshot_.string(), "--replace", "--yes"});
  ASSERT_EQ(replace.status, 0) << replace.err;
  const auto replaced = lines(replace.out);
  ASSERT_EQ(replaced.size(), expected.size() + 4);
  const std::string freedBig = tallyfox::formatFileBytes(bigSaving / 2) + " freed";
  EXPECT_EQ(replaced[8], path("b/report.pdf") + ": " + freedBig);
  EXPECT_EQ(replaced[9], path("c/old report.pdf") + ": " + freedBig);
  EXPECT_EQ(replaced[10],
            path("b/photo copy.jpg") + ": " + tallyfox::formatFileBytes(smallSaving) + " freed");
  EXPECT_EQ(replaced[11],
            "3 copies replaced \u00b7 " + tallyfox::formatFileBytes(bigSaving + smallSaving) + " freed");

  for (const char* copy : {"b/report.pdf", "c/old report.pdf", "b/photo copy.jpg"}) {
    EXPECT_TRUE(filefragSaysShared(path(copy))) << copy;
    const auto bytes = readBytes(path(copy));
    const bool photo = std::string(copy).find("photo") != std::string::npos;
    EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == (photo ? small_ : big_)) << copy;
  }
  EXPECT_FALSE(filefragSaysShared(path("unique.bin")));

  std::ifstream log(home_.path() / ".local/share/tallyfox/clone-log.jsonl");
  std::vector<std::string> logged;
  for (std::string line; std::getline(log, line);) logged.push_back(line);
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(nlohmann::json::parse(logged[1]).at("replaced"), path("c/old report.pdf"));

  // The same snapshot again: the copies now share their storage, so nothing is left to free.
  const ProgramRun again = runTfscan({"--dupes", snapshot_.string()});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "No duplicates\n");
}

TEST_F(DupesCommand, RefusesToReplaceWithoutConfirmation) {
  const ProgramRun run = runTfscan({"--dupes", snapshot_.string(), "--replace"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("--yes"), std::string::npos) << run.err;
  EXPECT_FALSE(filefragSaysShared(path("b/report.pdf")));
  EXPECT_FALSE(fs::exists(home_.path() / ".local/share/tallyfox/clone-log.jsonl"));
}

TEST_F(DupesCommand, SearchesOneFolderOfTheSnapshot) {
  const ProgramRun below = runTfscan({"--dupes", snapshot_.string(), path("b")});
  EXPECT_EQ(below.status, 0) << below.err;
  EXPECT_EQ(below.out, "No duplicates\n");

  const ProgramRun outside = runTfscan({"--dupes", snapshot_.string(), "/nowhere/else"});
  EXPECT_EQ(outside.status, 1);
  EXPECT_NE(outside.err.find("/nowhere/else"), std::string::npos);

  const ProgramRun file = runTfscan({"--dupes", snapshot_.string(), path("unique.bin")});
  EXPECT_EQ(file.status, 1);

  putFile(work_.path() / "junk.tfsnap", "not a snapshot");
  EXPECT_EQ(runTfscan({"--dupes", (work_.path() / "junk.tfsnap").string()}).status, 1);
}

// Names may hold any byte but "/" and NUL. Whatever tfscan prints of them (the scan's summary,
// the groups, the lines of a replacement, the dump) must not drive the terminal or split a
// line.
TEST(DupesCommandOnDisk, NamesReachTheTerminalDefused) {
  TempDir work;
  const fs::path tree = work / "tree";
  const std::string bytes = patternedBytes(100000, 2);
  const std::vector<std::string> names = {"title\x1b]0;owned\x07", "two\nlines",
                                          "csi\xc2\x9b"
                                          "31m",
                                          "bad\xff\x7f"};
  for (const auto& name : names) putFile(tree / name, bytes);
  const fs::path snapshot = work / "s.tfsnap";
  const ProgramRun scan = runTfscan({tree.string(), "-o", snapshot.string()});
  ASSERT_EQ(scan.status, 0) << scan.err;
  const ProgramRun dupes = runTfscan({"--dupes", snapshot.string(), "--replace", "--yes"});
  const ProgramRun dump = runTfscan({"--dump", snapshot.string()});
  ASSERT_EQ(dump.status, 0);

  for (const ProgramRun* run : {&scan, &dupes, &dump}) {
    const std::string all = run->out + run->err;
    for (std::size_t k = 0; k < all.size(); ++k) {
      const auto c = static_cast<unsigned char>(all[k]);
      EXPECT_TRUE(c >= 0x20 || c == '\n') << "control byte " << int(c) << " in: " << all;
      EXPECT_NE(c, 0x7F) << all;
      if (c == 0xC2 && k + 1 < all.size()) {
        EXPECT_GE(static_cast<unsigned char>(all[k + 1]), 0xA0) << all;
      }
    }
  }
  // One group of four, each path on one line.
  const auto out = lines(dupes.out);
  ASSERT_GE(out.size(), 5u) << dupes.out;
  EXPECT_EQ(out[1].rfind("  keep   " + tree.string() + "/", 0), 0u) << out[1];
  EXPECT_EQ(out[4].rfind("  clone  " + tree.string() + "/", 0), 0u) << out[4];
  EXPECT_NE(dupes.out.find("two?lines"), std::string::npos) << dupes.out;
  EXPECT_NE(dupes.out.find("bad\xEF\xBF\xBD?"), std::string::npos) << dupes.out;
}

// A clone log that is a link or a FIFO cannot record the replacements: nothing is replaced,
// tfscan says why and fails, the link's target stays as it was and nothing waits on the FIFO.
TEST_F(DupesCommand, ACloneLogThatCannotBeWrittenStopsTheRunBeforeAnyReplacement) {
  const fs::path log = home_.path() / ".local/share/tallyfox/clone-log.jsonl";
  fs::create_directories(log.parent_path());
  const fs::path target = work_.path() / "elsewhere.txt";
  putFile(target, "keep me\n");
  fs::create_symlink(target, log);
  const std::string refused = "tfscan: cannot write the clone log " + log.string() +
                              ": it is not a regular file\ntfscan: nothing replaced\n";

  const ProgramRun linked = runTfscan({"--dupes", snapshot_.string(), "--replace", "--yes"});
  EXPECT_EQ(linked.status, 1);
  EXPECT_EQ(linked.err, refused);
  EXPECT_EQ(readBytes(target), std::vector<std::uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e', '\n'}));

  fs::remove(log);
  ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
  const ProgramRun fifo = runTfscan({"--dupes", snapshot_.string(), "--replace", "--yes"});
  EXPECT_EQ(fifo.status, 1);
  EXPECT_EQ(fifo.err, refused);
  EXPECT_TRUE(fs::is_fifo(log));

  for (const char* copy : {"b/report.pdf", "c/old report.pdf", "b/photo copy.jpg"})
    EXPECT_FALSE(filefragSaysShared(path(copy))) << copy;
}

// Between the search and the replacement, folder b was moved aside and a link to a folder
// outside the tree, holding the same names and contents, took its place. Its copies are
// skipped with the reason, and so is the rest of their group; nothing outside is touched.
TEST_F(DupesCommand, AFolderSwappedForALinkIsSkippedWithItsGroup) {
  const fs::path other = image_->mountPoint() / "other";
  putFile(other / "report.pdf", big_);
  putFile(other / "photo copy.jpg", small_);
  fs::rename(tree_ / "b", tree_ / "b_real");
  fs::create_symlink("../other", tree_ / "b");

  const ProgramRun run = runTfscan({"--dupes", snapshot_.string(), "--replace", "--yes"});
  EXPECT_EQ(run.status, 1);
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 12u) << run.out;
  const std::string linked = ": a folder on its path has become a link since the search";
  EXPECT_EQ(out[8], path("b/report.pdf") + linked);
  EXPECT_EQ(out[9], path("c/old report.pdf") + ": skipped, a folder of this group changed since the search");
  EXPECT_EQ(out[10], path("b/photo copy.jpg") + linked);
  EXPECT_EQ(out[11], "0 copies replaced \u00b7 " + tallyfox::formatFileBytes(0) + " freed");
  for (const fs::path& untouched : {other / "report.pdf", other / "photo copy.jpg",
                                    tree_ / "b_real" / "report.pdf", tree_ / "c" / "old report.pdf"})
    EXPECT_FALSE(filefragSaysShared(untouched)) << untouched;
  EXPECT_TRUE(readBytes(home_.path() / ".local/share/tallyfox/clone-log.jsonl").empty());
}

// On a file system that cannot share storage (tmpfs), the copies can only be deleted: the
// summary says what that would free, and --replace refuses before touching anything.
TEST(DupesCommandWithoutSharing, SaysWhatDeletingWouldFreeAndReplacesNothing) {
  std::string why;
  const auto mount = TmpfsMount::create(why);
  if (!mount) GTEST_SKIP() << why;
  ScopedHome home;
  const fs::path tree = mount->path() / "tree";
  const std::string bytes = patternedBytes(300000, 1);
  for (const char* name : {"a/report.pdf", "b/report.pdf", "c/old report.pdf"}) putFile(tree / name, bytes);
  const fs::path snapshot = mount->path() / "tree.tfsnap";
  ASSERT_EQ(runTfscan({tree.string(), "-o", snapshot.string()}).status, 0);

  const ProgramRun list = runTfscan({"--dupes", snapshot.string()});
  ASSERT_EQ(list.status, 0) << list.err;
  const auto out = lines(list.out);
  ASSERT_EQ(out.size(), 6u) << list.out;
  const std::string saving = tallyfox::formatFileBytes(2 * allocatedBytes(tree / "a/report.pdf"));
  EXPECT_EQ(out[0], "3 \u00d7 300.0 kB \u00b7 " + saving + " to free");
  EXPECT_EQ(out[4], "1 group \u00b7 deleting the 2 extra copies would free " + saving);
  EXPECT_EQ(out[5], "This file system can't share storage between files, so they can't become clones.");
  EXPECT_EQ(list.out.find("could be shared"), std::string::npos);

  const ProgramRun replace = runTfscan({"--dupes", snapshot.string(), "--replace", "--yes"});
  EXPECT_EQ(replace.status, 1);
  EXPECT_EQ(replace.err,
            "tfscan: this file system can't share storage between files; nothing replaced. Delete the extra "
            "copies instead\n");
  EXPECT_FALSE(fs::exists(home.path() / ".local/share/tallyfox/clone-log.jsonl"));
  for (const char* name : {"b/report.pdf", "c/old report.pdf"})
    EXPECT_EQ(readBytes(tree / name).size(), bytes.size());
}
