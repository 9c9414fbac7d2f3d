// Where tfscan writes: only ever in place of a regular file, checked before the scan, to
// standard output as a stream, and under default names cut to fit.

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <regex>

using namespace tallyfox;
using testsupport::lines;
using testsupport::runTfscan;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

// A small folder to scan: a file, a folder with two more.
fs::path makeTree(const fs::path& root) {
  testsupport::writeFile(root / "big", std::string(20000, 'b'));
  testsupport::writeFile(root / "sub" / "one", "1");
  testsupport::writeFile(root / "sub" / "two", std::string(5000, '2'));
  return root;
}

bool mentionsProgress(const std::string& err) {
  return err.find("progress ") != std::string::npos;
}

// The header fields that differ between two scans of the same folder: start and duration.
std::string withoutTimes(std::string snapshot) {
  if (snapshot.size() >= 48) snapshot.replace(32, 16, 16, '\0');
  return snapshot;
}

}  // namespace

TEST(ScanOutput, WhatIsNotARegularFileIsRefusedBeforeTheScan) {
  testsupport::ScopedHome home;
  TempDir temp;
  const fs::path tree = makeTree(temp / "tree");
  ASSERT_EQ(::mkfifo((temp / "fifo").c_str(), 0600), 0);
  // With a reader, tfscan could not block on the FIFO: what it wrote would be seen.
  const int reader = ::open((temp / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  fs::create_symlink("/dev/null", temp / "link-to-null");
  std::vector<std::string> outputs = {(temp / "fifo").string(), (temp / "link-to-null").string()};
  // As root, a device node of the test's own, and /dev/null itself.
  if (::geteuid() == 0 && ::mknod((temp / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    outputs.insert(outputs.end(), {(temp / "null").string(), "/dev/null"});
  testsupport::writeFile(temp / "snapshot.tfsnap", "not read: refused first");

  for (const std::string& output : outputs) {
    const auto scan = runTfscan({"--progress", "-o", output, tree.string()});
    EXPECT_EQ(scan.status, 1) << output;
    EXPECT_EQ(scan.err,
              "tfscan: " + output +
                  ": not a regular file; only a regular file is replaced (- writes to standard output)\n");
    EXPECT_FALSE(mentionsProgress(scan.err)) << "scanned before refusing " << output;
    EXPECT_EQ(scan.out, "");
    const auto exported = runTfscan({"--export-ncdu", output, (temp / "snapshot.tfsnap").string()});
    EXPECT_EQ(exported.status, 1) << output;
    EXPECT_NE(exported.err.find("cannot write " + output + ": not a regular file"), std::string::npos)
        << exported.err;
  }
  const auto folder = runTfscan({"--progress", "-o", (temp / "tree").string(), tree.string()});
  EXPECT_EQ(folder.err, "tfscan: " + tree.string() + ": Is a directory\n");

  char byte;
  EXPECT_EQ(::read(reader, &byte, 1), 0) << "something was written into the FIFO";
  ::close(reader);
  EXPECT_TRUE(fs::is_fifo(temp / "fifo"));
  EXPECT_TRUE(fs::is_symlink(temp / "link-to-null"));
  if (outputs.size() > 2) {
    EXPECT_TRUE(fs::is_character_file(temp / "null"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
  }
}

TEST(ScanOutput, StandardOutputCarriesTheSnapshotAloneThroughAPipe) {
  testsupport::ScopedHome home;
  TempDir temp;
  const fs::path tree = makeTree(temp / "tree");
  ASSERT_EQ(runTfscan({"-o", (temp / "file.tfsnap").string(), tree.string()}).status, 0);
  const auto file = testsupport::readBytes(temp / "file.tfsnap");

  for (const std::string output : {"-", "/dev/stdout"}) {
    const auto run = testsupport::runProgramThroughPipe({TFSCAN_PATH, "-o", output, tree.string()});
    ASSERT_EQ(run.status, 0) << output << ": " << run.err;
    EXPECT_EQ(run.err, "") << output;
    EXPECT_EQ(withoutTimes(run.out), withoutTimes(std::string(file.begin(), file.end()))) << output;
    const auto header =
        SnapshotFile::readHeader({reinterpret_cast<const std::uint8_t*>(run.out.data()), run.out.size()});
    EXPECT_EQ(header.info.rootPath, tree.string());
  }
  EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
  // Nothing went into the snapshots folder either.
  EXPECT_FALSE(fs::exists(home.path() / ".local/share/tallyfox") &&
               !fs::is_empty(home.path() / ".local/share/tallyfox"));

  // An export is written the same, to a file or a stream, byte for byte.
  ASSERT_EQ(
      runTfscan({"--export-ncdu", (temp / "export.json").string(), (temp / "file.tfsnap").string()}).status,
      0);
  const auto exported = testsupport::readBytes(temp / "export.json");
  for (const std::string output : {"-", "/dev/stdout"}) {
    const auto run = testsupport::runProgramThroughPipe(
        {TFSCAN_PATH, "--export-ncdu", output, (temp / "file.tfsnap").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string(exported.begin(), exported.end())) << output;
  }
}

TEST(ScanOutput, ProgressLinesForProgramsEndWithTheFinalCounts) {
  testsupport::ScopedHome home;
  TempDir temp;
  const fs::path tree = makeTree(temp / "tree");
  const std::regex record("progress entries=([0-9]+) bytes=([0-9]+) seconds=[0-9]+\\.[0-9]");
  // Not a terminal, and the snapshot on standard output or in a file.
  for (const std::string& output : {std::string("-"), (temp / "scan.tfsnap").string()}) {
    const auto run =
        testsupport::runProgramThroughPipe({TFSCAN_PATH, "--progress", "-o", output, tree.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto records = lines(run.err);
    ASSERT_GE(records.size(), 2u) << run.err;  // one as the scan begins, one at its end
    std::uint64_t entries = 0, bytes = 0;
    for (const std::string& line : records) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(line, match, record)) << line;
      EXPECT_GE(std::stoull(match[1]), entries);
      entries = std::stoull(match[1]);
      bytes = std::stoull(match[2]);
    }
    fs::path snapshot = output;
    if (output == "-") {
      snapshot = temp / "streamed.tfsnap";
      testsupport::writeFile(snapshot, run.out);
    }
    const auto written = SnapshotFile::map(snapshot);
    EXPECT_EQ(entries, std::uint64_t(written->nodeCount()));
    EXPECT_EQ(bytes, written->sizeOf(DiskTree::root));
  }
}

TEST(ScanOutput, LongFolderNamesAreScannedIntoDefaultNames) {
  testsupport::ScopedHome home;
  TempDir temp;
  // Names of 207 to 230 bytes once lost the scan at the end; from 231 on, tfscan never ended.
  for (const std::size_t length : {210, 240}) {
    const fs::path tree = makeTree(temp / std::string(length, 'L'));
    const auto run = runTfscan({tree.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path written = lines(run.out).back().substr(std::string("snapshot: ").size());
    EXPECT_EQ(written.parent_path(), home.path() / ".local/share/tallyfox");
    EXPECT_EQ(SnapshotFile::map(written)->rootPath(), tree.string());
    EXPECT_EQ(written.filename().string().rfind(std::string(100, 'L'), 0), 0u) << written;
  }
  // A name of the longest length given to -o is written, whatever its temporary's name.
  const fs::path tree = temp / std::string(240, 'L');
  const fs::path longest = temp / std::string(255, 'o');
  const auto run = runTfscan({"-o", longest.string(), tree.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SnapshotFile::map(longest)->rootPath(), tree.string());
  EXPECT_EQ(
      testsupport::namesIn(temp.path()),
      (std::vector<std::string>{std::string(210, 'L'), std::string(240, 'L'), longest.filename().string()}));
}

TEST(ScanOutput, ASnapshotsFolderThatCannotBeUsedIsReportedBeforeTheScan) {
  testsupport::ScopedHome home;
  TempDir temp;
  const fs::path tree = makeTree(temp / "tree");
  testsupport::writeFile(temp / "file", "in the way");
  Preferences::standard()->set(Preferences::snapshotsFolderKey, (temp / "file" / "snaps").string());
  const auto blocked = runTfscan({"--progress", tree.string()});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err,
            "tfscan: snapshots folder " + (temp / "file" / "snaps").string() + ": Not a directory\n");

  if (::geteuid() != 0) return;
  // A snapshots folder that nobody can search (where finding a free name once never ended).
  fs::create_directories(temp / "closed");
  fs::permissions(temp / "closed", fs::perms::owner_all);
  fs::permissions(temp.path(), fs::perms::owner_all | fs::perms::others_exec);
  Preferences::standard()->set(Preferences::snapshotsFolderKey, (temp / "closed").string());
  // Nobody reads the settings, and cannot enter "closed".
  const auto readable = fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec;
  for (const fs::path& folder :
       {home.path(), home.path() / ".config", home.path() / ".config" / Preferences::domain})
    fs::permissions(folder, readable);
  const auto closed = testsupport::runProgram({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                               "--", TFSCAN_PATH, "--progress", tree.string()});
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.err, "tfscan: snapshots folder " + (temp / "closed").string() + ": Permission denied\n");
}
