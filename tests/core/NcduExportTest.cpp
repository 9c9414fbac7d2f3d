#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotDump.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

using namespace tallyfox;
using testsupport::bytesOf;
using testsupport::TempDir;

namespace {

DiskTreePtr exportTree(const std::string& json) {
  auto decoded = NcduExport::decode(bytesOf(json));
  return SnapshotFile::inMemory(std::move(decoded.columns), decoded.info);
}

std::string decodeError(const std::string& json) {
  try {
    NcduExport::decode(bytesOf(json));
  } catch (const NcduExport::FormatError& e) {
    EXPECT_EQ(std::string(e.what()), "Not a readable ncdu export: " + e.message());
    return e.message();
  }
  return "decoded";
}

std::string gzip(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, uLong(text.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = uInt(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - stream.avail_out);
  deflateEnd(&stream);
  return out;
}

std::optional<NodeId> child(const DiskTree& tree, NodeId folder, const std::string& name) {
  for (NodeId id : tree.children(folder)) {
    const auto bytes = tree.nameView(id);
    if (std::string(bytes.begin(), bytes.end()) == name) return id;
  }
  return std::nullopt;
}

// Every field the tree takes, in the shapes ncdu 1.x, ncdu 2.x and gdu write them: a
// folder's own dsize, hard links by hlnkc (ncdu 1) or nlink alone (ncdu 2), an inode on
// another device (inherited from the folder that names it), exclusions as folder and as
// file, extended fields, keys the reader does not know with nested values, escapes (of "/"
// in the root's path: a name holds none), and raw bytes that are not UTF-8.
const std::string sample =
    std::string(R"([1,2,{"progname":"ncdu","progver":"1.18","timestamp":1700000000,"x":[1,{"y":null}]},
[{"name":"\/srv\/data","asize":4096,"dsize":4096,"dev":10,"mtime":1600000000},
{"name":"a","asize":100,"dsize":4096,"ino":7,"hlnkc":true,"nlink":3},
[{"name":"sub","dsize":4096,"unknown":{"deep":[[],{},"\"]"]},"read_error":true},
{"name":"a-again","asize":100,"dsize":4096,"ino":7,"hlnkc":true,"nlink":3},
{"name":"n2","dsize":8192,"ino":9,"nlink":2},
{"name":"n2-again","dsize":8192,"ino":9,"nlink":2}],
[{"name":"mnt","dev":11},
{"name":"same-ino-other-dev","dsize":4096,"ino":7,"hlnkc":true}],
[{"name":"proc","excluded":"othfs"}],
{"name":"skipped.log","excluded":"pattern"},
{"name":"link","asize":5,"notreg":true,"mode":41471},
{"name":"fifo","notreg":true,"mode":4516},
{"name":"esc \"\\\n\u00e9\ud83d\ude00\ud800x","dsize":1},
{"name":"raw )") +
    "\xff\xfe" + R"(","dsize":2,"mtime":-5}]])";

}  // namespace

TEST(NcduExport, ReadsEveryFieldOfTheFormat) {
  const auto tree = exportTree(sample);
  EXPECT_EQ(tree->rootPath(), "/srv/data");
  EXPECT_EQ(tree->scanStart(), std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)));
  EXPECT_EQ(tree->nodeCount(), 13);
  // Files' dsize only: 4096 (a) + 8192 (n2) + 4096 (inode 7 on device 11) + 1 + 2.
  EXPECT_EQ(tree->sizeOf(DiskTree::root), 4096u + 8192 + 4096 + 1 + 2);
  EXPECT_EQ(tree->mtime()[0], 1600000000u);
  EXPECT_EQ(tree->firstViolation(), std::nullopt);

  const NodeId a = *child(*tree, 0, "a"), sub = *child(*tree, 0, "sub"), mnt = *child(*tree, 0, "mnt");
  EXPECT_EQ(tree->sizeOf(a), 4096u);
  EXPECT_EQ(tree->flags(a), 0);
  EXPECT_EQ(tree->flags(sub), EntryFlags::directory | EntryFlags::error);
  EXPECT_EQ(tree->sizeOf(sub), 8192u);
  EXPECT_EQ(tree->entryCount()[std::size_t(sub)], 3u);
  const NodeId again = *child(*tree, sub, "a-again"), n2 = *child(*tree, sub, "n2"),
               n2again = *child(*tree, sub, "n2-again");
  EXPECT_EQ(tree->flags(again), EntryFlags::duplicateLink);
  EXPECT_EQ(tree->sizeOf(again), 0u);
  EXPECT_EQ(tree->flags(n2), 0);
  EXPECT_EQ(tree->flags(n2again), EntryFlags::duplicateLink);
  EXPECT_EQ(tree->sizeOf(mnt), 4096u);
  EXPECT_EQ(tree->flags(*child(*tree, mnt, "same-ino-other-dev")), 0);

  EXPECT_EQ(tree->flags(*child(*tree, 0, "proc")), EntryFlags::directory | EntryFlags::notDescended);
  EXPECT_EQ(tree->flags(*child(*tree, 0, "skipped.log")), EntryFlags::notDescended);
  EXPECT_EQ(tree->flags(*child(*tree, 0, "link")), EntryFlags::symlink);
  EXPECT_EQ(tree->flags(*child(*tree, 0, "fifo")), 0);
  EXPECT_TRUE(child(*tree, 0, "esc \"\\\n\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDx"));
  const auto raw = child(*tree, 0, "raw \xff\xfe");
  ASSERT_TRUE(raw);
  EXPECT_EQ(tree->mtime()[std::size_t(*raw)], 0u);
}

TEST(NcduExport, GzipReadsLikePlainAndTheOpeningPathTakesBoth) {
  TempDir temp;
  testsupport::writeFile(temp / "plain.json", "  \n" + sample);
  testsupport::writeFile(temp / "packed.json.gz", gzip(sample));
  const auto plain = NcduExport::decodeColumns(temp / "plain.json");
  const auto packed = NcduExport::decodeColumns(temp / "packed.json.gz");
  EXPECT_EQ(plain.columns, packed.columns);
  EXPECT_EQ(plain.info.scanStart, packed.info.scanStart);

  std::vector<double> progress;
  const auto tree = SnapshotDump::open(temp / "packed.json.gz", [&](double f) { progress.push_back(f); });
  testsupport::expectSameColumns(*tree, plain.columns);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 1.0);
  EXPECT_EQ(SnapshotDump::totalsOf(temp / "packed.json.gz"), DiskTree::Totals::summed);
  // Listings read the root and the time from the start of the file alone.
  const auto peeked = NcduExport::peek(temp / "packed.json.gz");
  ASSERT_TRUE(peeked);
  EXPECT_EQ(peeked->rootPath, "/srv/data");
  EXPECT_EQ(peeked->scanStart, plain.info.scanStart);

  // Two gzip members one after the other are one stream, as `cat a.gz b.gz` makes them.
  const std::size_t half = sample.size() / 2;
  testsupport::writeFile(temp / "members.gz", gzip(sample.substr(0, half)) + gzip(sample.substr(half)));
  EXPECT_EQ(NcduExport::decodeColumns(temp / "members.gz").columns, plain.columns);

  // A file of no known kind keeps the vok reader's message.
  testsupport::writeFile(temp / "other", "{\"not\": \"an export\"}");
  EXPECT_FALSE(NcduExport::matches(temp / "other"));
  EXPECT_FALSE(NcduExport::peek(temp / "other"));
  try {
    SnapshotDump::open(temp / "other");
    ADD_FAILURE() << "opened";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "Not a readable vok snapshot: bad magic");
  }
}

TEST(NcduExport, DamagedAndTruncatedExportsGiveClearErrors) {
  // Every cut of the file says it is truncated, plain or compressed.
  for (std::size_t length = 0; length < sample.size(); ++length) {
    const std::string cut = sample.substr(0, length);
    const std::string error = decodeError(cut);
    EXPECT_NE(error, "decoded") << length;
    EXPECT_EQ(error, "file is truncated") << length;
    if (length % 16 == 0) {
      EXPECT_EQ(decodeError(gzip(cut)), "file is truncated") << length;
    }
  }
  const std::string packed = gzip(sample);
  EXPECT_EQ(decodeError(packed.substr(0, packed.size() / 2)), "file is truncated");
  std::string flipped = packed;
  flipped[20] = char(flipped[20] ^ 0x55);
  EXPECT_NE(decodeError(flipped), "decoded");

  EXPECT_EQ(decodeError(R"([2,0,{},[{"name":"/"}]])"), "unsupported major version 2");
  // A time beyond what a tree keeps is the latest it can.
  EXPECT_EQ(exportTree(R"([1,0,{"timestamp":99999999999999},[{"name":"/"}]])")->scanStart(),
            std::chrono::system_clock::time_point(std::chrono::seconds(0xFFFFFFFF)));
  EXPECT_EQ(decodeError(R"([1,0,{},[{"name":"/"},{"size":1}]])"), "entry 1 has no name");
  EXPECT_EQ(decodeError(R"([1,0,{},[{"name":"/"},{"name":1}]])"), "expected a string for name at byte 30");
  EXPECT_EQ(decodeError(R"([1,0,{},{"name":"/"}])"), "expected the root folder at byte 8");
  EXPECT_EQ(decodeError(R"([1,0,{},[{"name":"/"} {"name":"x"}]])"), "expected ',' or ']' at byte 22");
  EXPECT_EQ(decodeError(R"([1,0,{},[{"name":"/","dsize":tru}]])"), "expected a number for dsize at byte 29");
  EXPECT_EQ(decodeError("[1,0,{},[{\"name\":\"" + std::string(NcduExport::maxStringBytes + 1, 'x') + "\"}]]"),
            "string too long at byte 17");
  // Nesting that never closes ends with the file, not with the stack.
  EXPECT_EQ(decodeError("[1,0,{},[{\"name\":\"/\"}," + std::string(100000, '[')), "expected '{' at byte 23");
  EXPECT_EQ(decodeError("[1,0,{},[{\"name\":\"/\",\"x\":" + std::string(100000, '[')), "file is truncated");
}

TEST(NcduExport, WrittenExportReadsBackToTheSameTree) {
  TempDir temp;
  using testsupport::Node;
  constexpr auto dir = EntryFlags::directory;
  const auto columns = testsupport::columnsOf({
      {-1, "", 0, dir, 1500000000},
      {0, "docs", 0, dir, 1500000001},
      {0, "quote\"back\\slash\ttab\x01", 700, 0, 3},
      {0, std::string("bad\xff\xfe") + "name", 300},
      {0, "del\x7f", 200},
      {0, "skipped", 0, dir | EntryFlags::notDescended},
      {0, "locked", 0, dir | EntryFlags::error},
      {0, "link", 0, EntryFlags::symlink},
      {1, "big", 5000, 0, 1600000000},
      {1, "empty", 0, dir},
  });
  const auto tree = SnapshotFile::inMemory(
      columns,
      {"/home/someone/data", std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)), 2.5});
  NcduExport::write(*tree, temp / "out.json");
  EXPECT_EQ(testsupport::namesIn(temp.path()), std::vector<std::string>{"out.json"});
  // Every control character is escaped, DEL too: ncdu stops reading at a raw one.
  const auto written = testsupport::readBytes(temp / "out.json");
  EXPECT_EQ(
      std::count_if(written.begin(), written.end(), [](std::uint8_t c) { return c < 0x20 && c != '\n'; }), 0);
  EXPECT_EQ(std::count(written.begin(), written.end(), std::uint8_t(0x7F)), 0);
  EXPECT_NE(std::string(written.begin(), written.end()).find(R"("del\u007f")"), std::string::npos);

  const auto read = NcduExport::decodeColumns(temp / "out.json");
  EXPECT_EQ(read.info.rootPath, "/home/someone/data");
  EXPECT_EQ(read.info.scanStart, tree->scanStart());
  testsupport::expectSameColumns(*tree, read.columns);
}

// A made-up export must not name places it does not hold: the paths the window's file actions
// build from its names would lead out of their folders.
TEST(NcduExport, ExportsThatNameOtherPlacesAreRefused) {
  const auto withName = [](const std::string& name) {
    return R"([1,0,{},[{"name":"/srv"},{"name":"ok"},[{"name":"sub"},{"name":")" + name + R"("}]]])";
  };
  for (const std::string name : {"..", ".", "", "/", "a/b"})
    EXPECT_EQ(decodeError(withName(name)),
              "entry 3 in \"/srv/sub\" is named \"" + name + "\", which no file can be");
  EXPECT_EQ(decodeError(withName(R"(a\u0000b)")),
            R"(entry 3 in "/srv/sub" is named "a\u0000b", which no file can be)");
  EXPECT_EQ(decodeError(R"([1,0,{},[{"name":"/srv"},[{"name":".."}]]])"),
            R"(entry 1 in "/srv" is named "..", which no file can be)");
  for (const char* root : {"", "srv", "/srv/../etc", "/srv//data", "/srv/"})
    EXPECT_EQ(decodeError(R"([1,0,{},[{"name":")" + std::string(root) + R"("}]])"),
              "the root is named \"" + std::string(root) + "\", which is not a plain absolute path");

  // One name twice in a folder, whether files or a folder and a file; in two folders it is fine.
  EXPECT_EQ(decodeError(R"([1,0,{},[{"name":"/srv"},[{"name":"sub"},{"name":"x","dsize":1},{"name":"y"},)"
                        R"({"name":"x","dsize":1}]]])"),
            R"(two entries in "/srv/sub" are named "x")");
  EXPECT_EQ(decodeError(R"([1,0,{},[{"name":"/srv"},[{"name":"x"}],{"name":"x"}]])"),
            R"(two entries in "/srv" are named "x")");
  EXPECT_EQ(exportTree(R"([1,0,{},[{"name":"/srv"},[{"name":"x"},{"name":"x"}],{"name":"y"}]])")->nodeCount(),
            3);

  // One root, and nothing after the end but white space.
  const std::string twoRoots = R"([1,0,{},[{"name":"/a"}],[{"name":"/b"}]])";
  EXPECT_EQ(decodeError(twoRoots),
            "more than one root, the second at byte " + std::to_string(twoRoots.find("],[") + 2));
  const std::string trailing = R"([1,0,{},[{"name":"/a"}]] x)";
  EXPECT_EQ(decodeError(trailing),
            "bytes after the end of the export at byte " + std::to_string(trailing.size() - 1));
  EXPECT_EQ(exportTree(std::string(R"([1,0,{},[{"name":"/a"}]])") + " \n\t")->rootPath(), "/a");

  // White space alone is no export, plain or compressed; nothing at all is a cut-off one.
  EXPECT_EQ(decodeError(" \n\t "), "no JSON value");
  EXPECT_EQ(decodeError(gzip(" \n")), "no JSON value");
  EXPECT_EQ(decodeError(gzip("")), "file is truncated");
}

TEST(NcduExport, SizesPastTheLargestSaturate) {
  constexpr std::uint64_t largest = ~std::uint64_t(0);
  // 2^64 - 1 and 4096 wrapped would make 4095; a size beyond 64 bits reads as the largest.
  const auto tree =
      exportTree(R"([1,0,{},[{"name":"/srv"},[{"name":"sub"},{"name":"huge","dsize":18446744073709551615},)"
                 R"({"name":"page","dsize":4096}],{"name":"more","dsize":99999999999999999999999}]])");
  EXPECT_EQ(tree->sizeOf(DiskTree::root), largest);
  EXPECT_EQ(tree->sizeOf(*child(*tree, 0, "sub")), largest);
  EXPECT_EQ(tree->sizeOf(*child(*tree, 0, "more")), largest);
  EXPECT_EQ(tree->firstViolation(), std::nullopt);
}

// Every walk over an export is a loop: a million nested folders neither overflow the stack nor
// take longer than their bytes, and an error at the bottom names its folder in a message of
// bounded length.
TEST(NcduExport, AMillionNestedFoldersReadWithoutRecursion) {
  constexpr std::size_t depth = 1'000'000;
  const auto nested = [&](const std::string& name) {
    std::string json = R"([1,2,{},[{"name":"/r"})";
    json.reserve(depth * 16 + 100);
    for (std::size_t k = 0; k < depth; ++k) json += R"(,[{"name":"d"})";
    json += R"(,{"name":")" + name + R"(","dsize":4096})";
    json.append(depth + 2, ']');
    return json;
  };
  const auto tree = exportTree(nested("f"));
  EXPECT_EQ(tree->nodeCount(), std::int64_t(depth) + 1);
  EXPECT_EQ(tree->sizeOf(DiskTree::root), 4096u);
  EXPECT_EQ(tree->sizeOf(NodeId(depth)), 4096u);
  EXPECT_EQ(tree->firstViolation(), std::nullopt);

  const std::string error = decodeError(nested(".."));
  EXPECT_TRUE(error.starts_with("entry " + std::to_string(depth + 1) + " in \"/r/d/d/d"))
      << error.substr(0, 80);
  EXPECT_TRUE(error.ends_with("d/d/d\" is named \"..\", which no file can be")) << error.substr(0, 80);
  EXPECT_LT(error.size(), 300u);
}
