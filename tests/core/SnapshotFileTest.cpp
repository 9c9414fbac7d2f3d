#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/VokSnapshotReader.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <thread>

using namespace tallyfox;
using testsupport::TempDir;

namespace {

SnapshotFile::Info infoAt(std::string root) {
  return {std::move(root), std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000)), 2.5};
}

TreeColumns rootOnly() {
  return testsupport::columnsOf({{-1, "", 0}});
}

template <typename T>
void put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

std::string openError(const std::filesystem::path& path) {
  try {
    SnapshotFile::map(path);
  } catch (const SnapshotFile::FormatError& e) {
    EXPECT_EQ(std::string(e.what()), "Not a readable Tallyfox snapshot: " + e.message());
    return e.message();
  }
  return "opened";
}

// Lists random folders into each sink, the same into all, until about 120,000 entries; returns
// the next free id.
std::uint32_t listRandomTree(std::mt19937_64& random, const std::filesystem::path& root,
                             const std::vector<SnapshotBuilderSink*>& sinks) {
  for (SnapshotBuilderSink* sink : sinks) sink->rootStarted(root);
  std::uint32_t next = 1;
  for (std::uint32_t folder = 0; next < 120000; ++folder) {
    DirectoryListing l;
    l.reset(folder, next);
    const int count = 1 + int(random() % 30);
    for (int k = 0; k < count; ++k) {
      const std::string name(1 + random() % 40, char('a' + random() % 26));
      l.append({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}, random() % 5 * 4096,
               std::int64_t(random() % 100000), random() % 3 == 0 ? EntryFlags::directory : 0);
    }
    for (SnapshotBuilderSink* sink : sinks) sink->directoryListed(l);
    next += std::uint32_t(count);
  }
  return next;
}

// What `write` puts into a pipe, read by another thread as it comes (a pipe holds 64 KiB).
std::vector<std::uint8_t> throughPipe(const std::function<void(int fd)>& write) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  std::vector<std::uint8_t> bytes;
  std::thread reader([&] {
    std::uint8_t buffer[65536];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
      bytes.insert(bytes.end(), buffer, buffer + n);
  });
  try {
    write(ends[1]);
  } catch (...) {
    ::close(ends[1]);
    reader.join();
    ::close(ends[0]);
    throw;
  }
  ::close(ends[1]);
  reader.join();
  ::close(ends[0]);
  return bytes;
}

}  // namespace

TEST(SnapshotFile, RootOnlyTreeHasTheDocumentedLayout) {
  TempDir dir;
  const auto file = dir / "root.tfsnap";
  SnapshotFile::write(rootOnly(), infoAt("/tmp/x"), file);
  EXPECT_EQ(std::filesystem::file_size(file), 4160u);

  const std::uint64_t offsets[] = {4096, 4104, 4112, 4120, 4128, 4136, 4144, 4152, 4160};
  const std::uint64_t lengths[] = {4, 8, 4, 4, 1, 4, 4, 8, 0};
  const auto table = SnapshotFile::layout(1, 0);
  const auto bytes = testsupport::readBytes(file);
  const auto header = SnapshotFile::readHeader(bytes);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(table[i].offset, offsets[i]) << i;
    EXPECT_EQ(table[i].length, lengths[i]) << i;
    EXPECT_EQ(header.columns[i], table[i]) << i;
  }
  const auto tree = SnapshotFile::map(file);
  EXPECT_EQ(tree->nodeCount(), 0);
  EXPECT_EQ(tree->rootPath(), "/tmp/x");
  EXPECT_EQ(tree->scanStart(), infoAt("").scanStart);
  EXPECT_EQ(tree->scanSeconds(), 2.5);
  testsupport::expectSameColumns(*tree, rootOnly());
}

TEST(SnapshotFile, RandomColumnsRoundTripThroughFileAndMemory) {
  std::mt19937_64 random(42);
  TempDir dir;
  // The largest is written by two threads.
  for (std::size_t n : {1, 2, 3, 17, 1000, 70000}) {
    const auto columns = testsupport::randomColumns(random, n);
    const auto info = infoAt("/some/root");
    const auto file = dir / "random.tfsnap";
    SnapshotFile::write(columns, info, file);
    const auto mapped = SnapshotFile::map(file);
    testsupport::expectSameColumns(*mapped, columns);
    const auto memory = SnapshotFile::inMemory(columns, info);
    testsupport::expectSameColumns(*memory, columns);
    // The in-memory image is the file, byte for byte.
    EXPECT_TRUE(std::ranges::equal(memory->bytes(), testsupport::readBytes(file)));
    // A loaded tree saved under another name is the same file.
    memory->write(dir / "copy.tfsnap");
    EXPECT_EQ(testsupport::readBytes(dir / "copy.tfsnap"), testsupport::readBytes(file));
  }
}

TEST(SnapshotFile, ArrangedColumnsWriteTheSameBytesAsBuiltOnes) {
  TempDir dir;
  std::mt19937_64 random(3);
  // Enough entries and name bytes that every column is written in several pieces.
  SnapshotBuilderSink streamed, built;
  const std::uint32_t next = listRandomTree(random, dir.path(), {&streamed, &built});
  const SnapshotFile::Info info = infoAt("/tmp/x");
  SnapshotFile::write(streamed.finishArranged(), info, dir / "streamed.tfsnap");
  SnapshotFile::write(built.finish(), info, dir / "built.tfsnap");
  EXPECT_EQ(testsupport::readBytes(dir / "streamed.tfsnap"), testsupport::readBytes(dir / "built.tfsnap"));
  EXPECT_EQ(SnapshotFile::map(dir / "streamed.tfsnap")->nodeCount(), next - 1);

  // A scan that reached nothing writes no snapshot, either way.
  EXPECT_THROW(SnapshotFile::write(SnapshotBuilderSink().finishArranged(), info, dir / "empty.tfsnap"),
               std::invalid_argument);
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.tfsnap"));
}

TEST(SnapshotFile, AStreamIsTheFileByteForByteThroughAPipe) {
  TempDir dir;
  std::mt19937_64 random(5);
  const SnapshotFile::Info info = infoAt("/srv/data");
  // Built columns of a few sizes (odd lengths leave gaps to align), and a scan's columns large
  // enough that the file is written by two threads at their places.
  for (const std::size_t n : {1, 3, 7, 1000}) {
    const TreeColumns columns = testsupport::randomColumns(random, n);
    SnapshotFile::write(columns, info, dir / "file.tfsnap");
    const auto streamed = throughPipe([&](int fd) { SnapshotFile::stream(columns, info, fd); });
    EXPECT_EQ(streamed, testsupport::readBytes(dir / "file.tfsnap")) << n << " nodes";
  }
  SnapshotBuilderSink forFile, forStream;
  listRandomTree(random, dir.path(), {&forFile, &forStream});
  SnapshotFile::write(forFile.finishArranged(), info, dir / "scan.tfsnap");
  const auto streamed =
      throughPipe([&](int fd) { SnapshotFile::stream(forStream.finishArranged(), info, fd); });
  EXPECT_EQ(streamed, testsupport::readBytes(dir / "scan.tfsnap"));

  // What cannot be a snapshot is refused before a byte goes out.
  TreeColumns uneven = testsupport::randomColumns(random, 5);
  uneven.size.pop_back();
  EXPECT_TRUE(throughPipe([&](int fd) {
                EXPECT_THROW(SnapshotFile::stream(uneven, info, fd), std::invalid_argument);
                EXPECT_THROW(SnapshotFile::stream(SnapshotBuilderSink().finishArranged(), info, fd),
                             std::invalid_argument);
              }).empty());
}

TEST(SnapshotFile, EachReaderThrowsFormatErrorsOfItsOwnKind) {
  // A caller that catches one reader's errors lets another's pass; all are FileFormatErrors.
  auto caughtAsSnapshotError = [](auto error) {
    try {
      throw error;
    } catch (const SnapshotFile::FormatError&) {
      return true;
    } catch (const FileFormatError& e) {
      EXPECT_EQ(e.message(), "bad");
      return false;
    }
  };
  EXPECT_TRUE(caughtAsSnapshotError(SnapshotFile::FormatError("bad")));
  EXPECT_FALSE(caughtAsSnapshotError(NcduExport::FormatError("bad")));
  EXPECT_FALSE(caughtAsSnapshotError(VokSnapshotReader::FormatError("bad")));
  EXPECT_STREQ(NcduExport::FormatError("bad").what(), "Not a readable ncdu export: bad");
  EXPECT_STREQ(VokSnapshotReader::FormatError("bad").what(), "Not a readable vok snapshot: bad");
}

TEST(SnapshotFile, LongRootPathIsCutAndReadsBackWithReplacement) {
  TempDir dir;
  // 3899 ASCII bytes, then "é" (2 bytes) straddles the 3900-byte limit.
  std::string root = "/" + std::string(3898, 'a') + "\xC3\xA9" + std::string(1100, 'b');
  SnapshotFile::write(rootOnly(), infoAt(root), dir / "long.tfsnap");
  const auto tree = SnapshotFile::map(dir / "long.tfsnap");
  EXPECT_EQ(tree->rootPath(), root.substr(0, 3899) + "\xEF\xBF\xBD");
  const auto info = SnapshotFile::readInfo(dir / "long.tfsnap");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->info.rootPath, tree->rootPath());
}

TEST(SnapshotFile, EveryMalformedFileHasItsMessage) {
  TempDir dir;
  const auto good = dir / "good.tfsnap";
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "a", 5}, {0, "b", 3}}), infoAt("/r"), good);
  const auto original = testsupport::readBytes(good);
  int counter = 0;
  auto variant = [&](auto change) {
    auto bytes = original;
    change(bytes);
    const auto path = dir / ("bad" + std::to_string(counter++) + ".tfsnap");
    testsupport::writeBytes(path, bytes);
    return openError(path);
  };

  EXPECT_EQ(openError(good), "opened");
  EXPECT_EQ(variant([](auto& b) { b.resize(4095); }), "file is too short");
  EXPECT_EQ(variant([](auto& b) { b.clear(); }), "file is empty");
  EXPECT_EQ(variant([](auto& b) { b[3] = 'X'; }), "bad magic");
  EXPECT_EQ(variant([](auto& b) { put<std::uint32_t>(b, 8, 2); }), "unsupported version 2");
  EXPECT_EQ(variant([](auto& b) { put<std::uint32_t>(b, 12, 7); }), "unknown state");
  // "/r" and a NUL: file actions would reach a path other than the one shown.
  EXPECT_EQ(variant([](auto& b) { put<std::uint32_t>(b, 192, 3); }), "the root path holds a NUL byte");
  EXPECT_EQ(variant([](auto& b) { put<std::uint32_t>(b, 12, 0); }),
            "the scan that wrote this file hasn't finished");
  // Column 3 at an offset that is not a multiple of 8.
  EXPECT_EQ(variant([](auto& b) { put<std::uint64_t>(b, 48 + 16 * 3, 4100); }), "column 3 is out of bounds");
  // Beyond the end of the image; an offset whose sum with the length overflows.
  EXPECT_EQ(variant([](auto& b) { put<std::uint64_t>(b, 48 + 16 * 5 + 8, 1u << 20); }),
            "column 5 is out of bounds");
  EXPECT_EQ(variant([](auto& b) { put<std::uint64_t>(b, 48 + 16 * 1 + 8, ~0ull - 100); }),
            "column 1 is out of bounds");
  EXPECT_EQ(variant([](auto& b) { put<std::uint64_t>(b, 48, 4000); }), "column 0 is out of bounds");
  EXPECT_EQ(variant([](auto& b) { put<std::uint64_t>(b, 48 + 16 * 2 + 8, 8); }),
            "column 2 has the wrong length");
  EXPECT_EQ(variant([](auto& b) { put<std::uint64_t>(b, 16, 2); }), "column 0 has the wrong length");
  EXPECT_EQ(variant([](auto& b) { put<std::uint64_t>(b, 16, ~0ull); }), "column 0 has the wrong length");
  // The last name offset points past the names.
  EXPECT_EQ(variant([](auto& b) {
              const auto table = SnapshotFile::readHeader(b).columns;
              put<std::uint32_t>(b, table[7].offset + 12, 99);
            }),
            "names are out of bounds");
}

TEST(SnapshotFile, NamesColumnMayStartAnywhereAfterTheHeader) {
  TempDir dir;
  const auto file = dir / "names.tfsnap";
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "ab"}}), infoAt("/r"), file);
  auto bytes = testsupport::readBytes(file);
  const auto table = SnapshotFile::readHeader(bytes).columns;
  // Move the names one byte further: an odd offset is still fine for bytes.
  bytes.insert(bytes.begin() + std::ptrdiff_t(table[8].offset), 0);
  put<std::uint64_t>(bytes, 48 + 16 * 8, table[8].offset + 1);
  testsupport::writeBytes(file, bytes);
  EXPECT_EQ(SnapshotFile::map(file)->name(1), "ab");
}

TEST(SnapshotFile, EmptyTreeCannotBeOpened) {
  TempDir dir;
  const auto file = dir / "empty.tfsnap";
  TreeColumns empty;
  empty.nameOffset = {0};
  SnapshotFile::write(empty, infoAt("/r"), file);
  EXPECT_EQ(openError(file), "names are out of bounds");
  EXPECT_THROW(SnapshotFile::inMemory(empty, infoAt("/r")), SnapshotFile::FormatError);
}

TEST(SnapshotFile, HeaderOnlyReadsNeverThrow) {
  TempDir dir;
  const auto good = dir / "good.tfsnap";
  SnapshotFile::write(testsupport::columnsOf({{-1, ""}, {0, "a", 1234}}), infoAt("/data"), good);

  const auto info = SnapshotFile::readInfo(good);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->nodeCount, 2u);
  EXPECT_TRUE(info->complete);
  EXPECT_EQ(info->info, infoAt("/data"));
  EXPECT_TRUE(SnapshotFile::matches(good));
  EXPECT_EQ(SnapshotFile::totalBytes(good), 1234u);

  // An unfinished scan is listed, but not complete.
  auto bytes = testsupport::readBytes(good);
  put<std::uint32_t>(bytes, 12, 0);
  testsupport::writeBytes(dir / "scanning.tfsnap", bytes);
  ASSERT_TRUE(SnapshotFile::readInfo(dir / "scanning.tfsnap"));
  EXPECT_FALSE(SnapshotFile::readInfo(dir / "scanning.tfsnap")->complete);

  bytes.resize(4095);
  testsupport::writeBytes(dir / "short.tfsnap", bytes);
  EXPECT_FALSE(SnapshotFile::readInfo(dir / "short.tfsnap"));
  EXPECT_TRUE(SnapshotFile::matches(dir / "short.tfsnap"));
  EXPECT_FALSE(SnapshotFile::totalBytes(dir / "short.tfsnap"));
  EXPECT_FALSE(SnapshotFile::readInfo(dir / "missing.tfsnap"));
  EXPECT_FALSE(SnapshotFile::matches(dir / "missing.tfsnap"));
  EXPECT_FALSE(SnapshotFile::totalBytes(dir / "missing.tfsnap"));
  testsupport::writeFile(dir / "tiny", "TFS");
  EXPECT_FALSE(SnapshotFile::matches(dir / "tiny"));

  auto far = testsupport::readBytes(good);
  put<std::uint64_t>(far, 64, ~0ull);
  testsupport::writeBytes(dir / "far.tfsnap", far);
  EXPECT_FALSE(SnapshotFile::totalBytes(dir / "far.tfsnap"));
}

TEST(SnapshotFile, MissingFileIsAPosixError) {
  TempDir dir;
  try {
    SnapshotFile::map(dir / "absent.tfsnap");
    FAIL();
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOENT);
  }
}

namespace {

bool onlyFile(const std::filesystem::path& dir, const std::string& name) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  return names == std::vector<std::string>{name};
}

}  // namespace

TEST(SnapshotFile, FailedWritesLeaveTheOldFileAndNoTemporaryFile) {
  std::mt19937_64 random(7);
  const auto big = testsupport::randomColumns(random, 5000);
  TempDir dir;
  const auto file = dir / "snap.tfsnap";
  SnapshotFile::write(rootOnly(), infoAt("/old"), file);
  const auto before = testsupport::readBytes(file);

  // A write that runs out of room (the file size limit stands in for a full disk), in a
  // child process so the limit does not outlive the test.
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{6000, 6000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      SnapshotFile::write(big, infoAt("/new"), file);
    } catch (const std::system_error& e) {
      ::_exit(e.code().value() == EFBIG ? 0 : 1);
    }
    ::_exit(2);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(testsupport::readBytes(file), before);
  EXPECT_TRUE(onlyFile(dir.path(), "snap.tfsnap"));

  // A rename that fails: the destination is a folder that is not empty.
  std::filesystem::create_directory(dir / "taken.tfsnap");
  testsupport::writeFile(dir / "taken.tfsnap" / "inside", "x");
  EXPECT_THROW(SnapshotFile::write(big, infoAt("/new"), dir / "taken.tfsnap"), std::system_error);
  EXPECT_THROW(SnapshotFile::map(file)->write(dir / "taken.tfsnap"), std::system_error);
  EXPECT_EQ(testsupport::namesIn(dir.path()), (std::vector<std::string>{"snap.tfsnap", "taken.tfsnap"}));
  EXPECT_EQ(testsupport::readBytes(file), before);

  // A successful write replaces the old file.
  SnapshotFile::write(big, infoAt("/new"), file);
  EXPECT_EQ(SnapshotFile::map(file)->rootPath(), "/new");
  EXPECT_EQ(testsupport::namesIn(dir.path()), (std::vector<std::string>{"snap.tfsnap", "taken.tfsnap"}));
}

TEST(SnapshotFile, AbsurdScanTimesReadAsTheEpoch) {
  TempDir dir;
  const auto file = dir / "time.tfsnap";
  SnapshotFile::write(rootOnly(), infoAt("/r"), file);
  auto bytes = testsupport::readBytes(file);
  for (double seconds : {-1.02e19, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
    put<double>(bytes, 32, seconds);
    testsupport::writeBytes(file, bytes);
    EXPECT_EQ(SnapshotFile::map(file)->scanStart().time_since_epoch().count(), 0);
    EXPECT_EQ(SnapshotFile::readInfo(file)->info.scanStart.time_since_epoch().count(), 0);
  }
}
