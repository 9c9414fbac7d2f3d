#include <tallyfox/SnapshotFile.h>

#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

using testsupport::runTfscan;

using testsupport::lines;

// The index of the first line that contains every one of `parts`, or -1.
int lineWith(const std::vector<std::string>& all, std::initializer_list<std::string> parts) {
  for (std::size_t i = 0; i < all.size(); ++i) {
    bool every = true;
    for (const auto& part : parts) every = every && all[i].find(part) != std::string::npos;
    if (every) return int(i);
  }
  return -1;
}

std::string bytes(std::size_t n, char c) {
  return std::string(n, c);
}

class DiffCommand : public ::testing::Test {
 protected:
  // A folder scanned twice: between the scans a file grew, one was added, a folder was
  // deleted and a file appeared in a subfolder; one file stayed as it was.
  void SetUp() override {
    root = temp / "data";
    testsupport::writeFile(root / "keep.bin", bytes(30000, 'k'));
    testsupport::writeFile(root / "grow.bin", bytes(3000, 'g'));
    testsupport::writeFile(root / "old" / "o1.bin", bytes(40000, 'o'));
    testsupport::writeFile(root / "sub" / "s.txt", "s");
    ASSERT_EQ(runTfscan({"-o", (temp / "old.tfsnap").string(), root.string()}).status, 0);

    testsupport::writeFile(root / "grow.bin", bytes(300000, 'g'));
    testsupport::writeFile(root / "added.bin", bytes(100000, 'a'));
    fs::remove_all(root / "old");
    testsupport::writeFile(root / "sub" / "inner.bin", bytes(12000, 'i'));
    ASSERT_EQ(runTfscan({"-o", (temp / "new.tfsnap").string(), root.string()}).status, 0);
  }

  testsupport::ScopedHome home;
  TempDir temp;
  fs::path root;
};

}  // namespace

TEST_F(DiffCommand, ListsWhatChangedLargestFirst) {
  const auto run = runTfscan({"--diff", (temp / "old.tfsnap").string(), (temp / "new.tfsnap").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const auto all = lines(run.out);
  ASSERT_FALSE(all.empty());
  EXPECT_NE(all[0].find("Changes in " + root.string()), std::string::npos) << all[0];
  EXPECT_NE(all[0].find("+"), std::string::npos) << all[0];

  const int grew = lineWith(all, {"+", "\xE2\x86\x92", "grow.bin"});
  const int added = lineWith(all, {"+", " new ", "added.bin"});
  const int gone = lineWith(all, {"\xE2\x88\x92", " gone ", "old/"});
  const int sub = lineWith(all, {"+", "sub/"});
  EXPECT_GT(grew, 0) << run.out;
  EXPECT_GT(added, grew) << run.out;
  EXPECT_GT(gone, added) << run.out;
  EXPECT_GT(sub, gone) << run.out;
  EXPECT_EQ(lineWith(all, {"keep.bin"}), -1) << "unchanged entries are not listed:\n" << run.out;
  EXPECT_EQ(lineWith(all, {"inner.bin"}), -1) << "nothing below the folder without --depth:\n" << run.out;
  EXPECT_EQ(all.size(), 5u) << run.out;
}

TEST_F(DiffCommand, LimitAndDepth) {
  const std::string older = (temp / "old.tfsnap").string(), newer = (temp / "new.tfsnap").string();
  auto run = runTfscan({"--diff", older, newer, "-n", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto all = lines(run.out);
  ASSERT_EQ(all.size(), 4u) << run.out;
  EXPECT_NE(all[1].find("grow.bin"), std::string::npos);
  EXPECT_NE(all[3].find("2 more changed entries"), std::string::npos) << run.out;

  run = runTfscan({"--diff", older, newer, "--depth", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  all = lines(run.out);
  const int sub = lineWith(all, {"sub/"}), inner = lineWith(all, {"inner.bin"});
  ASSERT_GT(sub, 0) << run.out;
  EXPECT_EQ(inner, sub + 1) << run.out;
  // Indented below its folder.
  EXPECT_NE(all[std::size_t(inner)].find("  inner.bin"), std::string::npos);
  EXPECT_NE(lineWith(all, {"o1.bin", " gone "}), -1) << run.out;
}

TEST_F(DiffCommand, ComparesAGivenFolderOrSaysWhereItIsMissing) {
  const std::string older = (temp / "old.tfsnap").string(), newer = (temp / "new.tfsnap").string();
  auto run = runTfscan({"--diff", older, newer, (root / "sub").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  auto all = lines(run.out);
  ASSERT_EQ(all.size(), 2u) << run.out;
  EXPECT_NE(all[1].find("inner.bin"), std::string::npos);

  run = runTfscan({"--diff", older, newer, (root / "old").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "tfscan: " + (root / "old").string() + " is not in " + newer + "\n");

  run = runTfscan({"--diff", older, (temp / "missing.tfsnap").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
}

TEST(DiffCommandMarks, UncertainEntriesAndOddNamesAreMarked) {
  testsupport::ScopedHome home;
  TempDir temp;
  const auto older = temp / "a.tfsnap", newer = temp / "b.tfsnap";
  constexpr std::uint8_t dirError = EntryFlags::directory | EntryFlags::error;
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "locked", 10, dirError}, {0, "line\nbreak", 5}}),
                      {"/p", {}, 1}, older);
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "locked", 20, dirError}, {0, "line\nbreak", 1}}),
                      {"/p", {}, 1}, newer);
  const auto run = runTfscan({"--diff", older.string(), newer.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto all = lines(run.out);
  ASSERT_EQ(all.size(), 4u) << run.out;
  EXPECT_NE(all[1].find("? locked/"), std::string::npos) << run.out;
  // A newline in a name must not start a line of its own.
  EXPECT_NE(all[2].find("  line?break"), std::string::npos) << run.out;
  EXPECT_EQ(all[3].rfind("  ? ", 0), 0u) << run.out;
}
