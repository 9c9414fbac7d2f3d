#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotFile.h>

#include "Subprocess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;
using namespace tallyfox;
using testsupport::runProgram;
using testsupport::TempDir;

namespace {

bool installed(const std::string& tool) {
  return testsupport::runCommand({"sh", "-c", "command -v " + tool}) == 0;
}

// The peers and tfscan run as one unprivileged user, so that a folder without permissions
// cannot be read by any of them; as root that user is nobody, with a home of the test's.
class Runner {
 public:
  explicit Runner(const fs::path& home) : home_(home) {
    asRoot_ = ::geteuid() == 0;
    if (asRoot_) testsupport::runCommand({"chown", "-R", "65534:65534", home.string()});
  }
  testsupport::ProgramRun run(std::vector<std::string> words) const {
    std::vector<std::string> all;
    if (asRoot_) all = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    all.insert(all.end(),
               {"env", "HOME=" + home_.string(), "XDG_CONFIG_HOME=" + (home_ / ".config").string()});
    all.insert(all.end(), words.begin(), words.end());
    return runProgram(all);
  }

 private:
  fs::path home_;
  bool asRoot_ = false;
};

struct Mount {
  fs::path path;
  bool mounted = false;
  ~Mount() {
    if (mounted) ::umount2(path.c_str(), MNT_DETACH);
  }
};

// Hard links (when asked: one file's four names, in its folder, the folder below and the
// root), an unreadable folder, empty folders, a name that is not UTF-8, a symbolic link and,
// as root, a second file system below the root.
void makeFolder(const fs::path& root, bool hardLinks, Mount& mount) {
  fs::create_directories(root / "a" / "b");
  fs::create_directories(root / "a" / "empty");
  fs::create_directories(root / "empty");
  fs::create_directories(root / "locked");
  testsupport::writeFile(root / "a" / "data", std::string(50000, 'd'));
  testsupport::writeFile(root / "a" / "b" / "small", "s");
  testsupport::writeFile(root / "locked" / "secret", std::string(9000, 's'));
  testsupport::writeFile(root / "bad\xff\xfename", std::string(5000, 'x'));
  if (hardLinks) {
    fs::create_hard_link(root / "a" / "data", root / "a" / "data-again");
    fs::create_hard_link(root / "a" / "data", root / "a" / "b" / "link");
    fs::create_hard_link(root / "a" / "data", root / "link-at-top");
  }
  fs::create_symlink("a", root / "symlink");
  fs::permissions(root / "locked", fs::perms::none);
  if (::geteuid() != 0) return;
  mount.path = root / "mnt";
  fs::create_directories(mount.path);
  mount.mounted = ::mount("tallyfox-test", mount.path.c_str(), "tmpfs", 0, "size=1m") == 0;
  if (mount.mounted) testsupport::writeFile(mount.path / "inside", std::string(3000, 'i'));
}

std::int64_t furtherLinks(const DiskTree& tree) {
  std::int64_t count = 0;
  for (NodeId id = 1; id < tree.totalNodes(); ++id) count += bool(tree.flags(id) & EntryFlags::duplicateLink);
  return count;
}

// The scan of the folder by tfscan, and the export read through the opening path.
void expectSameTotals(const fs::path& snapshot, const fs::path& exportFile, bool errorsToo) {
  const auto scanned = SnapshotFile::map(snapshot);
  const auto exported = SnapshotDump::open(exportFile);
  EXPECT_EQ(exported->sizeOf(DiskTree::root), scanned->sizeOf(DiskTree::root)) << exportFile;
  EXPECT_EQ(exported->nodeCount(), scanned->nodeCount()) << exportFile;
  // Which of a file's names counts depends on the order each program found them in; how
  // many do not does not.
  EXPECT_EQ(furtherLinks(*exported), furtherLinks(*scanned)) << exportFile;
  if (errorsToo) {
    EXPECT_EQ(exported->errorCount(), 1u) << exportFile;  // the locked folder
    EXPECT_EQ(scanned->errorCount(), 1u);
  }
  EXPECT_EQ(exported->firstViolation(SnapshotDump::totalsOf(exportFile)), std::nullopt);
}

}  // namespace

TEST(ExportCommand, NcduExportsReadToTheTotalsOfAScan) {
  if (!installed("ncdu")) GTEST_SKIP() << "ncdu is not installed (scripts/deps installs it)";
  TempDir temp;
  Mount mount;
  const fs::path root = temp / "root";
  makeFolder(root, true, mount);
  Runner as(temp.path());
  // Both stay on the root's file system: ncdu lists the mount as excluded, tfscan as not
  // entered.
  ASSERT_EQ(as.run({TFSCAN_PATH, "-o", (temp / "scan.tfsnap").string(), root.string()}).status, 0);
  const auto ncdu = as.run({"ncdu", "-0", "-x", "-o", (temp / "ncdu.json").string(), root.string()});
  ASSERT_EQ(ncdu.status, 0) << ncdu.err;
  expectSameTotals(temp / "scan.tfsnap", temp / "ncdu.json", true);
  // ncdu keeps the name's bytes, and so does the reader.
  const auto tree = SnapshotDump::open(temp / "ncdu.json");
  bool found = false;
  for (NodeId id : tree->children(DiskTree::root)) {
    const auto name = tree->nameView(id);
    found = found || std::string(name.begin(), name.end()) == "bad\xff\xfename";
  }
  EXPECT_TRUE(found);

  ASSERT_EQ(testsupport::runCommand({"gzip", "-k", (temp / "ncdu.json").string()}), 0);
  expectSameTotals(temp / "scan.tfsnap", temp / "ncdu.json.gz", true);
}

TEST(ExportCommand, GduExportsReadToTheTotalsOfAScan) {
  if (!installed("gdu")) GTEST_SKIP() << "gdu is not installed (scripts/deps installs it)";
  TempDir temp;
  Mount mount;
  const fs::path root = temp / "root";
  // gdu marks a hard link's names after the first it counted only; its export is read by that
  // rule. It does not mark unreadable folders.
  makeFolder(root, true, mount);
  Runner as(temp.path());
  ASSERT_EQ(
      as.run({TFSCAN_PATH, "--all-filesystems", "-o", (temp / "scan.tfsnap").string(), root.string()}).status,
      0);
  // gdu writes into its working folder's log when asked only; -n stays non-interactive.
  const auto gdu = as.run({"gdu", "-n", "-p", "-o", (temp / "gdu.json").string(), root.string()});
  ASSERT_EQ(gdu.status, 0) << gdu.err;
  expectSameTotals(temp / "scan.tfsnap", temp / "gdu.json", false);
}

TEST(ExportCommand, TfscanExportReadsBackThroughNcduToTheSameColumns) {
  TempDir temp;
  testsupport::ScopedHome home;
  const fs::path root = temp / "root";
  fs::create_directories(root / "docs" / "empty");
  testsupport::writeFile(root / "docs" / "report", std::string(20000, 'r'));
  testsupport::writeFile(root / "quote\"and\\back", std::string(7000, 'q'));
  testsupport::writeFile(root / "bad\xffname", "b");
  // ncdu's reader stops at a raw control character, DEL too.
  testsupport::writeFile(root / "del\x7fname", std::string(3000, 'd'));
  testsupport::writeFile(root / "tab\tname", "t");
  fs::create_symlink("docs", root / "link");
  ASSERT_EQ(testsupport::runTfscan({"-o", (temp / "scan.tfsnap").string(), root.string()}).status, 0);

  const auto run = testsupport::runTfscan(
      {"--export-ncdu", (temp / "out.json").string(), (temp / "scan.tfsnap").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  const auto snapshot = SnapshotFile::map(temp / "scan.tfsnap");
  const auto ours = NcduExport::decodeColumns(temp / "out.json");
  testsupport::expectSameColumns(*snapshot, ours.columns);
  EXPECT_EQ(ours.info.rootPath, snapshot->rootPath());

  if (!installed("ncdu")) GTEST_SKIP() << "ncdu is not installed (scripts/deps installs it)";
  // ncdu re-exports without a terminal; -e keeps the times and modes.
  const auto ncdu = runProgram(
      {"ncdu", "-0", "-e", "-f", (temp / "out.json").string(), "-o", (temp / "again.json").string()});
  ASSERT_EQ(ncdu.status, 0) << ncdu.err;
  EXPECT_EQ(NcduExport::decodeColumns(temp / "again.json").columns, ours.columns);
}

TEST(ExportCommand, RefusesWhatItCannotReadOrWrite) {
  TempDir temp;
  testsupport::writeFile(temp / "junk", "neither kind");
  auto run =
      testsupport::runTfscan({"--export-ncdu", (temp / "out.json").string(), (temp / "junk").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Not a readable vok snapshot: bad magic"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(temp / "out.json"));

  const auto columns = testsupport::columnsOf({{-1, "", 0}, {0, "f", 10}});
  SnapshotFile::write(columns, {"/x", {}, 0}, temp / "s.tfsnap");
  run = testsupport::runTfscan(
      {"--export-ncdu", (temp / "missing" / "out.json").string(), (temp / "s.tfsnap").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
  EXPECT_EQ(testsupport::runTfscan({"--export-ncdu", (temp / "out.json").string()}).status, 2);
}
