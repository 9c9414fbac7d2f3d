#include <tallyfox/EntryNames.h>
#include <tallyfox/VokSnapshotReader.h>

#include "TestSupport.h"
#include "VokWriter.h"

#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <algorithm>
#include <cstring>
#include <limits>

using namespace tallyfox;
using testsupport::dir;
using testsupport::TempDir;
using testsupport::VokRecord;
using testsupport::VokWriter;

namespace {

constexpr std::uint64_t maxU64 = std::numeric_limits<std::uint64_t>::max();

std::string decodeError(std::span<const std::uint8_t> bytes) {
  try {
    VokSnapshotReader::decode(bytes);
  } catch (const VokSnapshotReader::FormatError& e) {
    EXPECT_EQ(std::string(e.what()), "Not a readable vok snapshot: " + e.message());
    return e.message();
  }
  return "decoded";
}

std::string decodeError(const VokWriter& writer, bool compressed = false) {
  return decodeError(writer.bytes(compressed));
}

VokRecord file(std::uint64_t distance, std::string name, std::uint64_t size, std::int64_t mtime = 0) {
  VokRecord r;
  r.distance = distance;
  r.name = std::move(name);
  r.size = size;
  r.mtime = mtime;
  return r;
}

VokRecord folder(std::uint64_t distance, std::string name, std::uint64_t size, std::uint64_t count) {
  VokRecord r = file(distance, std::move(name), size);
  r.kind = dir;
  r.entryCount = count;
  return r;
}

// Records out of size order, with a read error, ignored kind bits, an invalid UTF-8 name and
// times beyond both ends of the 32-bit range.
VokWriter sampleWriter(std::uint16_t version) {
  VokWriter w;
  w.version = version;
  VokRecord note = file(1, "note", 1000, 1'700'000'000);
  note.kind = 0xF8;
  VokRecord big = folder(2, "big", 5000, 2);
  big.kind |= EntryFlags::error;
  w.add(note).add(big);                                  // records 1, 2
  w.add(file(1, "b\xff", 2000, std::int64_t(1) << 40));  // 3 in big
  w.add(file(2, "a", 3000, -5));                         // 4 in big
  w.add(folder(5, "empty", 0, 0));                       // 5 in root
  return w;
}

// What the sample decodes to. The root counts what its top-level records stand for.
TreeColumns sampleColumns() {
  auto c = testsupport::columnsOf({{-1, "", 0},
                                   {0, "big", 0, EntryFlags::error},
                                   {0, "note", 1000, 0, 1'700'000'000},
                                   {0, "empty", 0, dir},
                                   {1, "a", 3000, 0, 0},
                                   {1, "b\xff", 2000, 0, 4'294'967'295u}});
  c.entryCount[0] = 2 + 1 + 0;
  return c;
}

std::vector<std::uint8_t> withByte(std::vector<std::uint8_t> bytes, std::size_t at, std::uint8_t value) {
  bytes[at] = value;
  return bytes;
}

}  // namespace

TEST(VokSnapshotReader, HeaderTerminatorAndFooterAloneAreTheRoot) {
  // Written by hand, so that the test writer's layout is checked too.
  std::vector<std::uint8_t> bytes = {'V', 'O', 'K', 'S', 'N', 'A', 'P', 0, 1, 0, 0, 0xA5, 0, 0};
  const auto digest = testsupport::sha256(bytes);
  bytes.insert(bytes.end(), digest.begin(), digest.end());
  VokWriter empty;
  empty.version = 1;
  EXPECT_EQ(bytes, empty.stream());

  const auto decoded = VokSnapshotReader::decode(bytes);
  EXPECT_EQ(decoded.columns, testsupport::columnsOf({{-1, "", 0}}));
  EXPECT_EQ(decoded.columns.entryCount[0], 0u);
  EXPECT_TRUE(decoded.topNames.empty());
}

TEST(VokSnapshotReader, StoredAndCompressedOfBothVersionsGiveTheSameTree) {
  TempDir temp;
  for (std::uint16_t version : {1, 2}) {
    for (bool compressed : {false, true}) {
      SCOPED_TRACE("version " + std::to_string(version) + (compressed ? " compressed" : " stored"));
      const auto bytes = sampleWriter(version).bytes(compressed);
      EXPECT_EQ(bytes[0] == 0x78, compressed);
      const auto path = temp / "sample.vok";
      testsupport::writeBytes(path, bytes);
      const auto decoded = VokSnapshotReader::decodeColumns(path);
      EXPECT_EQ(decoded.columns, sampleColumns());
      EXPECT_EQ(decoded.info.scanSeconds, 0);
    }
  }
}

TEST(VokSnapshotReader, BytesAfterTheDigestAreIgnored) {
  VokWriter w = sampleWriter(2);
  w.trailer = {'j', 'u', 'n', 'k'};
  EXPECT_EQ(VokSnapshotReader::decode(w.bytes(false)).columns, sampleColumns());
}

TEST(VokSnapshotReader, EntryCountsAndRootTotalsAreClamped) {
  VokWriter w;
  w.add(folder(1, "huge", maxU64 - 10, std::uint64_t(1) << 40));
  w.add(folder(2, "also", 20, 4'294'967'295u));
  w.add(file(3, "f", 1));
  const auto c = VokSnapshotReader::decode(w.bytes(false)).columns;
  ASSERT_EQ(c.nodeCount(), 4);
  EXPECT_EQ(c.entryCount[1], 4'294'967'295u);
  EXPECT_EQ(c.entryCount[2], 4'294'967'295u);
  EXPECT_EQ(c.entryCount[0], 4'294'967'295u);
  // The root's size saturates instead of wrapping around.
  EXPECT_EQ(c.size[0], maxU64);
}

TEST(VokSnapshotReader, MalformedHeadersAndRecordsNameTheirFault) {
  const auto good = sampleWriter(2).bytes(false);
  EXPECT_EQ(decodeError(good), "decoded");
  EXPECT_EQ(decodeError(withByte(good, 0, 'W')), "bad magic");
  EXPECT_EQ(decodeError(withByte(good, 8, 3)), "unsupported version 3");
  EXPECT_EQ(decodeError(withByte(good, 8, 0)), "unsupported version 0");
  EXPECT_EQ(decodeError(withByte(good, 9, 1)), "unsupported version 258");
  EXPECT_EQ(decodeError(withByte(good, 10, 7)), "path encoding 7 is not Unix");
  EXPECT_EQ(decodeError(std::vector<std::uint8_t>{}), "file is truncated");
  EXPECT_EQ(decodeError(std::vector<std::uint8_t>(good.begin(), good.begin() + 11)), "file is truncated");

  // Record 2's parent distance: 0 and beyond its number fail, its own number is the root.
  for (std::uint64_t distance : {0, 3, 1000}) {
    VokWriter w;
    w.add(file(1, "a", 1)).add(file(distance, "b", 1));
    EXPECT_EQ(decodeError(w), "bad parent distance in record 2") << distance;
  }
  VokWriter rootChild;
  rootChild.add(file(1, "a", 1)).add(file(2, "b", 1));
  EXPECT_EQ(VokSnapshotReader::decode(rootChild.bytes(false)).columns.childCount[0], 2u);

  // Fields that end before or after the stated record length.
  VokRecord stray = file(1, "b", 1);
  stray.rawFields = stray.fields();
  stray.rawFields->push_back(0);
  EXPECT_EQ(decodeError(VokWriter().add(file(1, "a", 1)).add(stray)),
            "record 2 length does not match its fields");
  VokRecord shorter = file(1, "b", 1);
  shorter.length = shorter.fields().size() - 1;
  EXPECT_EQ(decodeError(VokWriter().add(file(1, "a", 1)).add(shorter)),
            "record 2 length does not match its fields");

  VokWriter footer = sampleWriter(1);
  footer.footerCount = 7;
  EXPECT_EQ(decodeError(footer), "footer names 7 nodes but read 5");

  // A stream that is not deflate data behind a zlib header.
  std::vector<std::uint8_t> badDeflate = {0x78, 0x9C, 0x07, 0, 0, 0, 0};
  EXPECT_EQ(decodeError(badDeflate), "decompression failed");
}

TEST(VokSnapshotReader, VarintLimits) {
  // Fields of one record under the root, with the size and ignored field given raw.
  auto record = [](std::vector<std::uint8_t> size, std::vector<std::uint8_t> ignored) {
    VokRecord r;
    r.rawFields = std::vector<std::uint8_t>{1, 0, 1, 'x'};
    r.rawFields->insert(r.rawFields->end(), size.begin(), size.end());
    r.rawFields->push_back(0);  // time
    r.rawFields->insert(r.rawFields->end(), ignored.begin(), ignored.end());
    return VokWriter().add(r);
  };
  auto sizeOf = [](const VokWriter& w) { return VokSnapshotReader::decode(w.bytes(false)).columns.size[1]; };
  auto continued = [](std::size_t count, std::uint8_t last) {
    std::vector<std::uint8_t> bytes(count - 1, 0x80);
    bytes.push_back(last);
    return bytes;
  };

  // Plain: ten bytes hold 64 bits; a tenth byte that goes on, or carries more, overflows.
  EXPECT_EQ(decodeError(record({1}, continued(10, 0x01))), "decoded");
  EXPECT_EQ(decodeError(record({1}, continued(11, 0x00))), "integer overflows 64 bits");
  EXPECT_EQ(decodeError(record({1}, continued(10, 0x02))), "integer overflows 64 bits");

  // Clamped: exact up to 64 bits, including padded encodings; the largest value beyond.
  EXPECT_EQ(sizeOf(record(std::vector<std::uint8_t>{0x85, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                                    0x80, 0x80, 0x00},
                          {0})),
            5u);
  EXPECT_EQ(sizeOf(record(continued(10, 0x01), {0})), std::uint64_t(1) << 63);
  EXPECT_EQ(sizeOf(record(continued(10, 0x02), {0})), maxU64);
  EXPECT_EQ(sizeOf(record(continued(12, 0x01), {0})), maxU64);
  std::vector<std::uint8_t> all128(18, 0xFF);
  all128.push_back(0x03);
  EXPECT_EQ(sizeOf(record(all128, {0})), maxU64);
  EXPECT_EQ(decodeError(record(continued(20, 0x00), {0})), "integer overflows 128 bits");
}

TEST(VokSnapshotReader, NamesUpToHalfTheWindowAreRead) {
  const std::string longest(524'288, 'n');
  VokWriter fits;
  fits.add(file(1, "a", 1)).add(file(1, longest, 2));
  const auto c = VokSnapshotReader::decode(fits.bytes(true)).columns;
  EXPECT_EQ(c.nameOffset.back(), 524'289u);

  VokWriter tooLong;
  tooLong.add(file(1, longest + "n", 2));
  EXPECT_EQ(decodeError(tooLong), "field too long");
}

TEST(VokSnapshotReader, CutShortIsTruncated) {
  const auto stored = sampleWriter(2).bytes(false);
  for (std::size_t cut = 0; cut < stored.size(); ++cut)
    ASSERT_EQ(decodeError(std::span(stored).first(cut)), "file is truncated") << cut;

  // The Adler-32 trailer and the last deflate bits may go without losing content.
  const auto compressed = sampleWriter(2).bytes(true);
  for (std::size_t cut = 0; cut + 8 <= compressed.size(); ++cut)
    ASSERT_EQ(decodeError(std::span(compressed).first(cut)), "file is truncated") << cut;
}

TEST(VokSnapshotReader, AnyFlippedByteIsRefused) {
  const auto stored = sampleWriter(2).bytes(false);
  const std::size_t digestAt = stored.size() - 32;
  std::size_t mismatches = 0;
  for (std::size_t at = 0; at < stored.size(); ++at) {
    const std::string error = decodeError(withByte(stored, at, stored[at] ^ 0x01));
    ASSERT_NE(error, "decoded") << at;
    mismatches += error == "checksum mismatch";
    if (at >= digestAt) {
      EXPECT_EQ(error, "checksum mismatch") << at;
    }
  }
  EXPECT_GT(mismatches, 32u);
  // A name byte changes no structure.
  const auto name = std::search(stored.begin(), stored.end(), std::begin("note"), std::end("note") - 1);
  ASSERT_NE(name, stored.end());
  EXPECT_EQ(decodeError(withByte(stored, std::size_t(name - stored.begin()), 'N')), "checksum mismatch");

  const auto compressed = sampleWriter(2).bytes(true);
  for (std::size_t at = 2; at + 5 < compressed.size(); ++at)
    ASSERT_NE(decodeError(withByte(compressed, at, compressed[at] ^ 0x10)), "decoded") << at;
}

TEST(VokSnapshotReader, LargeFilesStreamThroughTheWindowWithProgress) {
  // 150,000 records of files in folders of 1,000: well beyond one window in either form.
  VokWriter w;
  std::uint64_t lastFolder = 0;
  for (std::uint64_t record = 1; record <= 150'000; ++record) {
    if (record % 1000 == 1) {
      w.add(folder(record, "folder" + std::to_string(record), 999 * 7, 999));
      lastFolder = record;
    } else {
      w.add(file(record - lastFolder, "file" + std::to_string(record), 7, std::int64_t(record)));
    }
  }
  w.nodeHint = maxU64;  // a hint the file cannot hold must not be believed
  TreeColumns first;
  for (bool compressed : {false, true}) {
    const auto bytes = w.bytes(compressed);
    std::vector<double> reports;
    const auto c = VokSnapshotReader::decode(bytes, [&](double f) { reports.push_back(f); }).columns;
    EXPECT_EQ(c.nodeCount(), 150'001);
    EXPECT_EQ(c.size[0], 150u * 999 * 7);
    EXPECT_EQ(c.entryCount[0], 150u * 999);
    if (compressed) {
      EXPECT_EQ(c, first);
    }
    first = c;

    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.back(), 1.0);
    for (std::size_t k = 1; k + 1 < reports.size(); ++k) EXPECT_GT(reports[k], reports[k - 1] + 0.01);
    for (double f : reports) EXPECT_TRUE(f > 0 && f <= 1) << f;
  }
}

TEST(VokSnapshotReader, BasePathAttributeComesFirst) {
  testsupport::ScopedHome home;
  TempDir temp;
  const auto path = temp / "snap.vok";
  sampleWriter(2).write(path, true);
  const std::string base = "/srv/data\xff";
  if (::setxattr(path.c_str(), VokSnapshotReader::basePathAttribute, base.data(), base.size(), 0) != 0)
    GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);

  EXPECT_EQ(VokSnapshotReader::basePath(path), "/srv/data\xEF\xBF\xBD");
  const auto link = temp / "link.vok";
  std::filesystem::create_symlink(path, link);
  EXPECT_EQ(VokSnapshotReader::basePath(link), "/srv/data\xEF\xBF\xBD");

  const auto tree = VokSnapshotReader::read(path);
  EXPECT_EQ(tree->rootPath(), "/srv/data\xEF\xBF\xBD");
  const auto modified = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(std::filesystem::last_write_time(path)));
  EXPECT_EQ(VokSnapshotReader::decodeColumns(path).info.scanStart, modified);
  // The tree keeps its scan start as seconds in a double.
  EXPECT_LT(std::chrono::abs(tree->scanStart() - modified), std::chrono::microseconds(1));
  EXPECT_EQ(tree->path(2), "/srv/data\xEF\xBF\xBD/note");
  testsupport::expectSameColumns(*tree, sampleColumns());

  // An empty attribute counts as none: the top names are looked up instead.
  ASSERT_EQ(::setxattr(path.c_str(), VokSnapshotReader::basePathAttribute, "", 0, 0), 0);
  EXPECT_EQ(VokSnapshotReader::basePath(path), std::nullopt);
  EXPECT_EQ(VokSnapshotReader::decodeColumns(path).info.rootPath, "");
}

TEST(VokSnapshotReader, BasePathIsGuessedFromTopLevelNames) {
  testsupport::ScopedHome home;
  TempDir temp;
  const auto snapshot = temp / "snaps" / "snap.vok";
  std::filesystem::create_directories(snapshot.parent_path());
  auto rootOf = [&](const std::vector<std::string>& topNames) {
    VokWriter w;
    std::uint64_t size = 1000;
    for (std::size_t k = 0; k < topNames.size(); ++k) w.add(file(k + 1, topNames[k], size--));
    w.write(snapshot, false);
    return VokSnapshotReader::decodeColumns(snapshot).info.rootPath;
  };

  // Next to the folders it lists; half of the names is enough.
  std::filesystem::create_directory(snapshot.parent_path() / "Music");
  std::filesystem::create_directory(snapshot.parent_path() / "Photos");
  EXPECT_EQ(rootOf({"Music", "Photos"}), snapshot.parent_path().string());
  EXPECT_EQ(rootOf({"Music", "gone"}), snapshot.parent_path().string());
  // One of three is not; the home folder has two of them.
  testsupport::writeFile(home.path() / "gone", "");
  testsupport::writeFile(home.path() / "missing", "");
  EXPECT_EQ(rootOf({"Music", "gone", "missing"}), home.path().string());
  EXPECT_EQ(rootOf({"etc", "usr", "nowhere-at-all"}), "/");
  EXPECT_EQ(rootOf({"nowhere-at-all", "nor-here"}), "");
  EXPECT_EQ(rootOf({}), "");
  // The largest entry decides whether these are names or whole paths.
  EXPECT_EQ(rootOf({"/Volumes/Backup", "Music", "Photos"}), "");
  EXPECT_EQ(rootOf({"Music", "Photos", "/Volumes/Backup"}), snapshot.parent_path().string());
}

TEST(VokSnapshotReader, OnlyTheTwelveLargestTopNamesAreConsidered) {
  VokWriter w;
  for (int k = 0; k < 14; ++k)
    w.add(file(std::uint64_t(k + 1), "n" + std::to_string(k), k < 2 ? 5 : 100 + k % 3));
  const auto names = VokSnapshotReader::decode(w.bytes(false)).topNames;
  // Sizes 100, 101, 102 repeat: largest first, earlier records first among equals.
  const std::vector<std::string> expected = {"n2",  "n5",  "n8", "n11", "n4", "n7",
                                             "n10", "n13", "n3", "n6",  "n9", "n12"};
  EXPECT_EQ(names, expected);
}

TEST(VokSnapshotReader, UnreadableFilesAreSystemErrors) {
  TempDir temp;
  EXPECT_THROW(VokSnapshotReader::read(temp / "missing.vok"), std::system_error);
  EXPECT_THROW(VokSnapshotReader::read(temp.path()), std::system_error);
  testsupport::writeFile(temp / "empty.vok", "");
  try {
    VokSnapshotReader::read(temp / "empty.vok");
    ADD_FAILURE() << "read an empty file";
  } catch (const VokSnapshotReader::FormatError& e) {
    EXPECT_EQ(e.message(), "file is truncated");
  }
}

// vok scans folders, so its names are ones a folder can list; any other would lead the paths
// built from it elsewhere. The top level may name whole plain paths, as a joined tree does.
TEST(VokSnapshotReader, NamesNoFolderCanListAreRefused) {
  for (const std::string& name : std::vector<std::string>{"", ".", "..", "a/b", std::string("a\0b", 3)}) {
    VokWriter w;
    w.add(folder(1, "big", 1, 1)).add(file(1, name, 1));
    EXPECT_EQ(decodeError(w), "record 2 is named " + EntryNames::quoted(name) + ", which no file can be");
  }
  EXPECT_EQ(decodeError(VokWriter().add(file(1, "/srv/../etc", 1))),
            R"(record 1 is named "/srv/../etc", which no file can be)");
  VokWriter joined;
  joined.add(folder(1, "/srv/data", 1, 1)).add(file(1, "a", 1)).add(file(3, "/home/ann", 2));
  EXPECT_EQ(VokSnapshotReader::decode(joined.bytes(false)).columns.nodeCount(), 4);

  // One name twice in a folder would be one file counted twice.
  EXPECT_EQ(decodeError(VokWriter().add(folder(1, "big", 2, 2)).add(file(1, "a", 1)).add(file(2, "a", 1))),
            R"(two records in "big" are named "a")");
  EXPECT_EQ(decodeError(VokWriter().add(file(1, "a", 1)).add(folder(2, "a", 0, 0))),
            R"(two records at the top level are named "a")");
}
