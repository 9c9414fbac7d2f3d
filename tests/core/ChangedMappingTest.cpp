// A snapshot or vok file that another process cuts short or rewrites while it is mapped:
// the reader keeps going on zeros, is told, and never crashes; faults that are not ours still
// end the process.

#include <tallyfox/DuplicateFinder.h>
#include <tallyfox/FileChangedError.h>
#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/VokSnapshotReader.h>

#include "ChangingFile.h"
#include "TestSupport.h"
#include "VokWriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

using namespace tallyfox;
using testsupport::TempDir;

namespace {

const SnapshotFile::Info info{
    "/data", std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000)), 1.0};

// About 120,000 entries: each column spans tens of pages.
const TreeColumns& wideColumns() {
  static const TreeColumns columns = testsupport::columnsOf(testsupport::wideTree(60, 2000));
  return columns;
}

std::vector<std::uint8_t> smallSnapshotBytes(const TempDir& dir) {
  const auto file = dir / "small.tfsnap";
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "other", 4096}}), info, file);
  return testsupport::readBytes(file);
}

// Everything a window, a comparison and the commands ask of a tree; answers how many nodes
// the walks reached, so that a test can bound the work done.
std::uint64_t walk(const DiskTreePtr& tree) {
  std::uint64_t reached = 0, sink = 0;
  for (NodeId id = 0; id < tree->totalNodes(); ++id) {
    sink += tree->name(id).size() + tree->path(id).size() + tree->filePath(id).size();
    sink += tree->sizeOf(id) + tree->flags(id) + std::uint64_t(tree->parentOf(id)) + tree->lineage(id).size();
    for (NodeId child : tree->children(id)) {
      EXPECT_GT(child, id);
      EXPECT_LT(child, tree->totalNodes());
      ++reached;
    }
  }
  (void)tree->firstViolation();
  const NodeId last = NodeId(tree->totalNodes() - 1);
  (void)SnapshotPaths::node(tree->path(last), *tree);
  // A comparison with itself, walked down as the comparison view and --diff walk it.
  if (const auto diff = SnapshotDiff::make(tree, tree, tree->rootPath())) {
    std::vector<SnapshotDiff::Entry> pending{diff->root()};
    while (!pending.empty() && reached < 10'000'000) {
      const auto entry = pending.back();
      pending.pop_back();
      for (const auto& child : diff->children(entry)) {
        ++reached;
        if (child.isDirectory) pending.push_back(child);
      }
    }
  }
  DuplicateFinder::Options options;
  options.threads = 2;
  (void)DuplicateFinder(tree, DiskTree::root, options).run();
  return reached + (sink & 1);
}

}  // namespace

TEST(ChangedMapping, CutShortUnderAReaderReadsAsZerosAndIsReported) {
  TempDir dir;
  const auto file = dir / "wide.tfsnap";
  const std::uint64_t total = wideColumns().parent.size();
  // Nothing left; the header alone; the cut in the middle of the columns.
  for (const std::uint64_t length :
       {std::uint64_t(0), std::uint64_t(SnapshotFile::headerSize), SnapshotFile::headerSize + 9 * total}) {
    SCOPED_TRACE(length);
    SnapshotFile::write(wideColumns(), info, file);
    const DiskTreePtr tree = SnapshotFile::map(file);
    walk(tree);
    ASSERT_FALSE(tree->firstViolation());
    EXPECT_FALSE(tree->fileChanged());

    testsupport::cutShortElsewhere(file, length);
    // Every node is reached at most once more than a sound tree allows: zeros give no
    // child ranges, and nothing loops.
    EXPECT_LE(walk(tree), 4 * std::uint64_t(total));
    EXPECT_TRUE(tree->fileChanged());
    EXPECT_TRUE(tree->firstViolation().has_value()) << "the zeros read as damage";
    // What was read when the tree opened stays.
    EXPECT_EQ(tree->rootPath(), "/data");
    EXPECT_EQ(tree->totalNodes(), std::int64_t(total));

    // Nothing made from it is put in place.
    testsupport::writeFile(dir / "copy.tfsnap", "before");
    testsupport::writeFile(dir / "export.json", "before");
    try {
      tree->write(dir / "copy.tfsnap");
      ADD_FAILURE() << "a copy of a changed file was written";
    } catch (const FileChangedError& e) {
      EXPECT_EQ(std::string(e.what()), file.string() + " changed while it was read");
      EXPECT_EQ(e.file(), file);
    }
    EXPECT_THROW(NcduExport::write(*tree, dir / "export.json"), FileChangedError);
    EXPECT_EQ(testsupport::readBytes(dir / "copy.tfsnap"),
              std::vector<std::uint8_t>({'b', 'e', 'f', 'o', 'r', 'e'}));
    EXPECT_EQ(testsupport::readBytes(dir / "export.json").size(), 6u);
  }
}

TEST(ChangedMapping, RewrittenInPlaceIsReportedWhetherOrNotAReadFaults) {
  TempDir dir;
  const auto file = dir / "wide.tfsnap";

  // A shorter, different snapshot copied over it: reads past its end fault, the rest reads
  // the other file's bytes.
  SnapshotFile::write(wideColumns(), info, file);
  DiskTreePtr tree = SnapshotFile::map(file);
  testsupport::rewriteElsewhere(file, smallSnapshotBytes(dir));
  walk(tree);
  EXPECT_TRUE(tree->fileChanged());

  // The same length with other bytes: no read faults, the file's time tells.
  SnapshotFile::write(wideColumns(), info, file);
  testsupport::ageFile(file);
  tree = SnapshotFile::map(file);
  auto bytes = testsupport::readBytes(file);
  bytes[bytes.size() / 2] ^= 0xFF;
  testsupport::rewriteElsewhere(file, bytes);
  walk(tree);
  EXPECT_TRUE(tree->fileChanged());
}

TEST(ChangedMapping, ReplacingOrRemovingTheFileLeavesTheMappingSound) {
  TempDir dir;
  const auto file = dir / "wide.tfsnap";
  SnapshotFile::write(wideColumns(), info, file);
  const DiskTreePtr tree = SnapshotFile::map(file);
  // Written under another name and renamed over it, as every snapshot is saved: the mapping
  // keeps the old file.
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "other", 4096}}), info, file);
  EXPECT_FALSE(tree->fileChanged());
  EXPECT_FALSE(tree->firstViolation());
  std::filesystem::remove(file);
  EXPECT_FALSE(tree->fileChanged());
  testsupport::expectSameColumns(*tree, wideColumns());
  EXPECT_NO_THROW(tree->write(dir / "copy.tfsnap"));

  // A tree in memory never changes.
  EXPECT_FALSE(SnapshotFile::inMemory(wideColumns(), info)->fileChanged());
}

TEST(ChangedMapping, CutWhileOtherThreadsWalkTheTree) {
  TempDir dir;
  const auto file = dir / "wide.tfsnap";
  std::mt19937_64 random(20261114);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    SnapshotFile::write(wideColumns(), info, file);
    const DiskTreePtr tree = SnapshotFile::map(file);
    // Two readers walk while a child process cuts the file at a moment drawn from the seed.
    std::atomic<bool> cut{false};
    auto reader = [&] {
      while (!cut.load()) walk(tree);
      walk(tree);
    };
    std::thread first(reader), second(reader);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    testsupport::cutShortElsewhere(file, SnapshotFile::headerSize + random() % 100000);
    cut = true;
    first.join();
    second.join();
    EXPECT_TRUE(tree->fileChanged());
  }
}

TEST(ChangedMapping, VokFileCutShortWhileDecodedIsAChangeNotAFormatError) {
  TempDir dir;
  const auto file = dir / "wide.vok";
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed);
    testsupport::VokWriter::fromColumns(wideColumns()).write(file, compressed);
    bool cut = false;
    try {
      VokSnapshotReader::read(file, [&](double fraction) {
        if (cut || fraction <= 0 || fraction >= 0.9) return;
        cut = true;
        testsupport::cutShortElsewhere(file, 100);
      });
      ADD_FAILURE() << "read a file cut short";
    } catch (const FileChangedError& e) {
      EXPECT_EQ(e.file(), file);
    }
    EXPECT_TRUE(cut) << "the decoder reported no progress before the end";
    // Unchanged, the same file reads.
    testsupport::VokWriter::fromColumns(wideColumns()).write(file, compressed);
    EXPECT_EQ(VokSnapshotReader::read(file)->totalNodes(), std::int64_t(wideColumns().parent.size()));
  }
}

TEST(ChangedMapping, WatchingHasNoLimitOnOpenTreesAndGivesItsPlacesBack) {
  TempDir dir;
  const auto file = dir / "small.tfsnap";
  testsupport::writeBytes(file, smallSnapshotBytes(dir));
  // More open at once than are watched: the rest still open.
  std::vector<DiskTreePtr> open;
  for (int k = 0; k < 1100; ++k) open.push_back(SnapshotFile::map(file));
  for (const auto& tree : open) EXPECT_EQ(tree->nodeCount(), 1);
  open.clear();
  // Trees opened and let go one after the other many times over still get a place.
  for (int k = 0; k < 3000; ++k) SnapshotFile::map(file);

  const auto wide = dir / "wide.tfsnap";
  SnapshotFile::write(wideColumns(), info, wide);
  const DiskTreePtr tree = SnapshotFile::map(wide);
  testsupport::cutShortElsewhere(wide, SnapshotFile::headerSize);
  walk(tree);
  EXPECT_TRUE(tree->fileChanged());
}

// Under AddressSanitizer its own SIGBUS handler, which ours passes faults on to, reports and
// ends the process its own way.
#if defined(__SANITIZE_ADDRESS__)
#define EXPECT_KILLED_BY(statement, signal) EXPECT_DEATH(statement, "")
#else
#define EXPECT_KILLED_BY(statement, signal) EXPECT_EXIT(statement, testing::KilledBySignal(signal), "")
#endif

TEST(ChangedMappingDeathTest, FaultsOutsideWatchedMappingsStillEndTheProcess) {
  TempDir dir;
  const auto snapshot = dir / "wide.tfsnap";
  const auto other = dir / "other.bin";
  SnapshotFile::write(wideColumns(), info, snapshot);
  testsupport::writeFile(other, std::string(3 * 4096, 'x'));

  // A file mapped by anyone else, cut short: the bus error is not ours to swallow.
  EXPECT_KILLED_BY(
      {
        const DiskTreePtr watched = SnapshotFile::map(snapshot);
        const int fd = ::open(other.c_str(), O_RDONLY);
        const auto* base =
            static_cast<const volatile char*>(::mmap(nullptr, 3 * 4096, PROT_READ, MAP_PRIVATE, fd, 0));
        if (::truncate(other.c_str(), 4096) != 0) ::_exit(2);
        std::fprintf(stderr, "%d\n", base[2 * 4096]);
        ::_exit(0);
      },
      SIGBUS);

  // A bus error sent by someone.
  EXPECT_KILLED_BY(
      {
        const DiskTreePtr watched = SnapshotFile::map(snapshot);
        ::kill(::getpid(), SIGBUS);
        ::_exit(0);
      },
      SIGBUS);

  // A segmentation fault is never looked at.
  EXPECT_KILLED_BY(
      {
        const DiskTreePtr watched = SnapshotFile::map(snapshot);
        const auto* page = static_cast<const volatile char*>(
            ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        std::fprintf(stderr, "%d\n", page[0]);
        ::_exit(0);
      },
      SIGSEGV);
}

namespace {

volatile sig_atomic_t sentOne = 0;

// Says whether it got the signal the test sent, or a fault in the watched mapping, which is
// not its to see.
void earlierHandler(int) {
  static const char passedOn[] = "the earlier handler got the signal sent\n";
  static const char ours[] = "the earlier handler got a fault of a watched mapping\n";
  if (sentOne) {
    (void)!::write(STDERR_FILENO, passedOn, sizeof passedOn - 1);
    ::_exit(3);
  }
  (void)!::write(STDERR_FILENO, ours, sizeof ours - 1);
  ::_exit(4);
}

}  // namespace

TEST(ChangedMappingDeathTest, AHandlerInstalledBeforeGetsTheFaultsThatAreNotOurs) {
  // A fresh process, so that the earlier handler is in place before the first mapping.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  const auto snapshot = dir / "wide.tfsnap";
  SnapshotFile::write(wideColumns(), info, snapshot);
  EXPECT_EXIT(
      {
        struct sigaction action = {};
        action.sa_handler = earlierHandler;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
        const DiskTreePtr watched = SnapshotFile::map(snapshot);
        // Ours still answers for the watched mapping...
        testsupport::cutShortElsewhere(snapshot, SnapshotFile::headerSize);
        walk(watched);
        if (!watched->fileChanged()) ::_exit(5);
        // ...and passes the rest on.
        sentOne = 1;
        ::kill(::getpid(), SIGBUS);
        ::_exit(0);
      },
      testing::ExitedWithCode(3), "the earlier handler got the signal sent");
}
